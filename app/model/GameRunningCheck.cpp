#include "model/GameRunningCheck.h"

#include <array>

namespace olvex {

namespace {

// The last component of a Unix or Windows path, lower case, without a Windows ".exe".
QString executableName(const QString& path) {
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    QString name = path.mid(cut + 1).toLower();
    if (name.endsWith(QStringLiteral(".exe"))) {
        name.chop(4);
    }
    return name;
}

} // namespace

bool countsAsGame(const RunningApplication& app, const std::vector<GameClient>& clients) {
    if (app.bundlePath) {
        for (const auto& client : clients) {
            if (app.bundlePath->startsWith(toQString(client.url()) + QLatin1Char('/'))) {
                return true;
            }
        }
    }
    const QString executable = executableName(app.executablePath.value_or(QString()));
    static const std::array<QString, 5> gameExecutables{QStringLiteral("wow"), QStringLiteral("wowclassic"),
                                                        QStringLiteral("wowclassicb"), QStringLiteral("wowb"),
                                                        QStringLiteral("wowt")};
    if (std::find(gameExecutables.begin(), gameExecutables.end(), executable) != gameExecutables.end()) {
        return true;
    }
    const QString text = app.localizedName.value_or(QString()) + QLatin1Char(' ') + executable;
    return text.contains(QStringLiteral("warcraft"), Qt::CaseInsensitive) || text.contains(QStringLiteral("魔兽世界"));
}

} // namespace olvex
