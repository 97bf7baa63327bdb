#include "desktop_notice.h"

#include "qt_text.h"

#include <QApplication>
#include <QVariantMap>
#include <QWidget>

#ifdef TOLVAR_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif

namespace tolvar {

QString jobEndText(const QString& job) {
    return T_("%1 has ended.").arg(job);
}

void announceJobEnd(QWidget* window, const QString& job) {
    QApplication::alert(window);
#ifdef TOLVAR_HAVE_DBUS
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return;
    QDBusMessage notify =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                       service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("tolvar-files-splitter"));
    notify << QApplication::applicationName() << 0u << QStringLiteral("tolvar-files-splitter")
           << QApplication::applicationName() << jobEndText(job) << QStringList() << hints << -1;
    // Not waited for: the closing question follows at once, and a slow service must not
    // hold it back.
    bus.asyncCall(notify);
#endif
}

} // namespace tolvar
