// Addresses held on the LAN of `isolated --lan` for as long as the object lives: on this
// side of the veth (so that a subnet is on the link here) or on the LAN host (a host that
// holds an address and does not speak the devices' protocol). Linux only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

class LinkHolders {
public:
    LinkHolders() = default;
    LinkHolders(const LinkHolders&) = delete;
    LinkHolders& operator=(const LinkHolders&) = delete;
    ~LinkHolders()
    {
        for (auto undo = m_undo.crbegin(); undo != m_undo.crend(); ++undo)
            run(*undo, nullptr);
    }

    // "10.81.1.1/24" on veth0, here.
    bool hereOnLan(const QString& cidr, QString* error) { return add(false, cidr, "veth0", error); }
    // "10.81.1.42/24" on veth1, the LAN host's end.
    bool onLanHost(const QString& cidr, QString* error) { return add(true, cidr, "veth1", error); }
    // The LAN host answers no ARP request at all (arp_ignore=8) until the object goes.
    bool lanHostIgnoresArp(QString* error)
    {
        const QStringList set = lan({ "sysctl", "-q", "-w", "net.ipv4.conf.veth1.arp_ignore=8" });
        if (!run(set, error))
            return false;
        m_undo << lan({ "sysctl", "-q", "-w", "net.ipv4.conf.veth1.arp_ignore=0" });
        return true;
    }

    // The LAN host's MAC on the veth, as the check reports it.
    static QString lanHostMac()
    {
        QProcess p;
        // sysfs shows this namespace's links, so ask ip in the LAN host's
        const QStringList args = lan({ "ip", "-o", "link", "show", "dev", "veth1" });
        p.start(args.first(), args.mid(1));
        p.waitForFinished(10000);
        const QString out = QString::fromLatin1(p.readAllStandardOutput());
        const int at = out.indexOf(QLatin1String("link/ether "));
        return at < 0 ? QString() : out.mid(at + 11, 17);
    }

    // True when this runs where the LAN host exists (isolated --lan) and can be changed from
    // here: not under Wine, which starts no Linux program.
    static bool available()
    {
#ifdef _WIN32
        return false;
#else
        return !qEnvironmentVariableIsEmpty("LAN_NETNS");
#endif
    }

private:
    static QStringList lan(const QStringList& command)
    {
        return QStringList { "nsenter", "--net=" + qEnvironmentVariable("LAN_NETNS") } + command;
    }
    bool add(bool onLanHost, const QString& cidr, const QString& dev, QString* error)
    {
        const QStringList base { "ip", "addr" };
        QStringList add = base + QStringList { "add", cidr, "dev", dev };
        QStringList del = base + QStringList { "del", cidr, "dev", dev };
        if (onLanHost) {
            add = lan(add);
            del = lan(del);
        }
        if (!run(add, error))
            return false;
        m_undo << del;
        return true;
    }
    static bool run(const QStringList& command, QString* error)
    {
        QProcess p;
        p.start(command.first(), command.mid(1));
        const bool ok
            = p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok && error)
            *error = command.join(' ') + ": " + QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return ok;
    }

    QList<QStringList> m_undo;
};
