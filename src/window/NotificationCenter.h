// A process-wide notice board: observers register for a name from any sender;
// a notice reaches each observer on the observer's own thread (directly when
// posted there, queued otherwise), so a notice posted by the parse thread is
// handled on the UI thread.
#ifndef NASFINDER_NOTIFICATIONCENTER_H
#define NASFINDER_NOTIFICATIONCENTER_H

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

class NotificationCenter : public QObject
{
    Q_OBJECT
public:
    static NotificationCenter* defaultCenter();

    // Calls handler(sender, userInfo) in observer's thread for every notice of
    // that name; the registration ends when observer is destroyed.
    void addObserver(QObject* observer, const QString& name,
                     std::function<void(QObject* sender, const QVariantMap& userInfo)> handler);
    void postNotificationName(const QString& name, QObject* sender,
                              const QVariantMap& userInfo = QVariantMap());

signals:
    void posted(const QString& name, QObject* sender, const QVariantMap& userInfo);
};

#endif
