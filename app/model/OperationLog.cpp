#include "model/OperationLog.h"

namespace olvex {

void OperationLog::append(const QString& text, const QDateTime& now) {
    m_lines.append(now.toUTC().toString(Qt::ISODate) + QLatin1Char(' ') + text);
    if (m_lines.size() > kLimit) {
        m_lines.erase(m_lines.begin(), m_lines.end() - kLimit);
    }
}

QString OperationLog::exportText() const {
    return QStringLiteral("KelvarnTarnel · 本地操作日志\n仅记录阶段与结果，不含路径、账号、WTF 内容或错误原文。\n") +
           m_lines.join(QLatin1Char('\n'));
}

} // namespace olvex
