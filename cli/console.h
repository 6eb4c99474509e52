// The exit statuses, the two output streams every subcommand shares, and what the program
// changes in the console it runs in.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdio>

// The same in every subcommand.
enum Exit { kDone = 0, kNoAnswer = 1, kUsage = 2, kNoNetwork = 3 };

// A stop request's name as a Linux user knows it, whatever the system (see StopSignal).
inline QString StopSignalName(int n)
{
    return n == 1 ? QStringLiteral("SIGHUP")
        : n == 2  ? QStringLiteral("SIGINT")
        : n == 15 ? QStringLiteral("SIGTERM")
                  : QStringLiteral("signal %1").arg(n);
}

// The calls that read and change a console, one stream at a time (1 standard output,
// 2 standard error): the system's by default, a test's own in tests.
struct ConsoleCalls {
    bool (*getMode)(int stream, unsigned* mode); // false: the stream is no console
    bool (*setMode)(int stream, unsigned mode);
    unsigned (*outputCodePage)(); // 0: no console
    bool (*setOutputCodePage)(unsigned page);
};

// On Windows the console's own. On Linux a terminal is a console whose mode already asks
// for escapes and whose code page is UTF-8, so nothing is ever changed there.
ConsoleCalls SystemConsoleCalls();

// The console mode flag that makes a Windows console act on escape sequences.
constexpr unsigned kVirtualTerminalMode = 0x0004;
constexpr unsigned kUtf8CodePage = 65001;

// What the program changes in its console, to put back at its exit: the console belongs
// to the shell, and to the programs that run in it after this one.
class ConsoleState {
public:
    explicit ConsoleState(const ConsoleCalls& calls);
    // UTF-8 on a console that shows standard output or standard error. A pipe or a file
    // takes the bytes as written whatever the code page, so then nothing is changed.
    void useUtf8();
    // True when stream is a console that acts on escape sequences now: one that did
    // already, or one that took (and kept) the mode asking it to. Otherwise nothing is
    // changed and the caller prints as for a file.
    bool useEscapes(int stream);
    // Puts back the modes and the code page that were changed; once, from any thread.
    void restore();

private:
    ConsoleCalls m_calls;
    std::atomic<bool> m_restored { false };
    unsigned m_codePage = 0; // the one before, or 0 when unchanged
    unsigned m_modes[3] = {}; // by stream, the mode before
    bool m_modeChanged[3] = {};
};

// The program's own.
ConsoleState& ProgramConsole();

// Both streams carry UTF-8 bytes as written. Windows would otherwise turn each "\n" into
// "\r\n" (CSV's own "\r\n" into "\r\r\n"), and a console would show UTF-8 as its code page.
// The console is put back at exit.
void UseUtf8Streams();

// Puts the console back as the program found it; at exit, and before any _exit.
void RestoreConsole();

// The height of the terminal on standard output; 24 when it does not say.
int TerminalRows();

// Where out() writes: standard output unless --output named a file.
FILE* DataFile(); // null: standard output

// How --output is written: beside, under a name of its own in the same folder, taking
// path's name only at CloseDataFile, so that a run that cannot write it leaves the file as
// it was; or directly, as a file followed while it grows is.
enum class DataFileWrite { Beside, Directly };

// --output: out() writes to path from now on; false with the reason. Only a regular file,
// or none yet, is written beside: anything else (a terminal, a pipe, /dev/null, NUL) is
// written directly.
bool OpenDataFile(const QString& path, DataFileWrite how, QString* why);

// Ends --output, and out() writes to standard output again. With keep and every write
// done, the file written beside takes path's name; otherwise it is removed and path left
// as it was. False, with the reason, when a write or the renaming failed.
bool CloseDataFile(bool keep, QString* why);

// True when a write of out() failed since OpenDataFile (a full disk, a closed pipe).
bool DataWriteFailed();

// A line for people: standard error, at once.
inline void err(const QString& line)
{
    fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
    fflush(stderr);
}

// Data: standard output or the --output file, at once, so a pipe sees each entry as it
// comes.
void out(const QByteArray& bytes);
