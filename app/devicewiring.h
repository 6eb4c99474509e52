// Hooks both receive paths up to the window's device slot, and unhooks them at exit.
#pragma once

class MainWindow;
class ThreadGetDevice;

// Requires g_customSignal. Both connections block the emitting thread until the slot has
// returned, so the payload buffer stays the sender's and needs no copy or lock.
void ConnectDeviceSources(ThreadGetDevice& listener, MainWindow& window);

// Stops both receive paths from reaching the window, running the GUI thread's posted
// events meanwhile so that a sender blocked in its emission can finish; returns once the
// listener thread has ended.
void StopDeviceSources(ThreadGetDevice& listener);
