#include "platform/PlatformServices.h"

#include <QFile>

namespace olvex {

QString toQString(const Path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

Path toPath(const QString& text) {
    return Path(QFile::encodeName(text).toStdString());
}

} // namespace olvex
