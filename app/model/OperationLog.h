#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace olvex {

// The short local log of what operations did: titles, stages and outcomes only, never paths,
// names or error texts, so that a player can hand it to support as it is.
class OperationLog {
public:
    static constexpr int kLimit = 100;
    static constexpr auto storeKey = "Olvex.operationLog";

    explicit OperationLog(QStringList lines = {}) : m_lines(std::move(lines)) {}

    // Appends "<UTC time, ISO 8601 with Z> <text>", dropping the oldest lines past the limit.
    void append(const QString& text, const QDateTime& now);
    const QStringList& lines() const { return m_lines; }
    // The diagnostics file: a two-line header, then the lines joined by line feeds, with no
    // line feed after the last.
    QString exportText() const;

private:
    QStringList m_lines;
};

} // namespace olvex
