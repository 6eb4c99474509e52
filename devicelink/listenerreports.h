// What the announcement listener reports besides the announcements themselves. It is an
// object of its own so that the listener's meta-object holds its announcement signal alone.
#pragma once

#include <QObject>

class ListenerReports : public QObject {
    Q_OBJECT
public:
    // The one the listener reports to; created at its first use and never destroyed, since
    // the listener thread may report while the process ends.
    static ListenerReports* instance();

signals:
    // The announcement port could not be opened (another program holds it): the listener
    // has ended. Emitted on the listener thread.
    void cannotListen();

private:
    ListenerReports() = default;
};
