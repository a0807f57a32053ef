#pragma once

// The few interface words that name a desktop service. The texts were first written for
// another desktop; here the file browser and the platform go by their own names, while every
// text around these words stays exactly as written. Kept in one place so that a port to
// another desktop changes only this file.

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace olvex {

class PlatformWords : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString fileBrowser READ fileBrowser CONSTANT)
    Q_PROPERTY(QString platform READ platform CONSTANT)
    Q_PROPERTY(QString cloudSync READ cloudSync CONSTANT)

public:
    using QObject::QObject;

    // What the desktop calls the program that shows folders.
    static QString fileBrowser() { return QStringLiteral("文件管理器"); }
    // The operating system the application is native to.
    static QString platform() { return QStringLiteral("Linux"); }
    // The service that would keep settings alike across computers; Linux has no one such service.
    static QString cloudSync() { return QStringLiteral("云同步"); }
};

} // namespace olvex
