#include "NotificationCenter.h"

NotificationCenter* NotificationCenter::defaultCenter()
{
    // Never destroyed: notices may still be posted by a worker while the
    // process ends.
    static NotificationCenter* center = new NotificationCenter;
    return center;
}

void NotificationCenter::addObserver(QObject* observer, const QString& name,
                                     std::function<void(QObject*, const QVariantMap&)> handler)
{
    connect(this, &NotificationCenter::posted, observer,
            [name, handler](const QString& posted, QObject* sender, const QVariantMap& userInfo)
            {
                if (posted == name)
                    handler(sender, userInfo);
            });
}

void NotificationCenter::postNotificationName(const QString& name, QObject* sender,
                                              const QVariantMap& userInfo)
{
    emit posted(name, sender, userInfo);
}
