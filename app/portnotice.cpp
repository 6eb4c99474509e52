#include "portnotice.h"

#include "devicetally.h"
#include "plaintext.h"

PortNotice::PortNotice(QWidget* parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("portStatus"));
    setStyleSheet(QStringLiteral("color:#b00000;"));
    setContentsMargins(0, 0, 16, 0);
    hide();
}

void PortNotice::setReplyPortOpen(bool open)
{
    replyPortOpen = open;
    showPorts();
}

void PortNotice::announcePortUnavailable()
{
    announcePortOpen = false;
    showPorts();
}

void PortNotice::showPorts()
{
    SetPlainText(this, DeviceTally::portsText(replyPortOpen, announcePortOpen));
    setVisible(!text().isEmpty());
}
