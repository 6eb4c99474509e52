// The status line's first part: the ports the window could not open, and what it
// therefore cannot hear; on Windows its diagnostics reach nobody. Hidden while both are open.
#pragma once

#include <QLabel>

class PortNotice : public QLabel {
    Q_OBJECT
public:
    explicit PortNotice(QWidget* parent = nullptr);

    void setReplyPortOpen(bool open);
    // The announcement listener could not open its port.
    void announcePortUnavailable();

private:
    void showPorts();

    bool replyPortOpen = true;
    bool announcePortOpen = true;
};
