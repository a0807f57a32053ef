#include "base/Errors.h"

#include <cerrno>

namespace olvex {

namespace {
const char* verb(SystemOperation operation) {
    switch (operation) {
    case SystemOperation::open:
        return "无法打开";
    case SystemOperation::read:
        return "无法读取";
    case SystemOperation::write:
        return "无法写入";
    case SystemOperation::create:
        return "无法创建";
    case SystemOperation::createDirectory:
        return "无法创建目录";
    case SystemOperation::remove:
        return "无法删除";
    case SystemOperation::move:
        return "无法移动";
    case SystemOperation::list:
        return "无法列出目录";
    case SystemOperation::examine:
        return "无法检查";
    case SystemOperation::flush:
        return "无法写入磁盘";
    case SystemOperation::lock:
        return "无法锁定";
    case SystemOperation::volumeQuery:
        return "无法查询磁盘空间";
    case SystemOperation::resolve:
        return "无法解析路径";
    }
    return "无法访问";
}
} // namespace

std::string errnoText(int error) {
    switch (error) {
    case ENOENT:
        return "文件或目录不存在";
    case EACCES:
        return "权限不足";
    case EPERM:
        return "操作不被允许";
    case ENOSPC:
        return "磁盘空间不足";
    case EDQUOT:
        return "超出磁盘配额";
    case EIO:
        return "输入/输出错误";
    case EEXIST:
        return "目标已存在";
    case ENOTDIR:
        return "路径中的某一项不是目录";
    case EISDIR:
        return "目标是目录";
    case ENOTEMPTY:
        return "目录不为空";
    case EROFS:
        return "文件系统为只读";
    case ELOOP:
        return "路径包含符号链接";
    case EMFILE:
    case ENFILE:
        return "打开的文件过多";
    case EXDEV:
        return "不能跨磁盘移动";
    case ENAMETOOLONG:
        return "名称过长";
    case EBUSY:
        return "文件正被占用";
    case EWOULDBLOCK:
        return "资源暂时不可用";
    case ENOMEM:
        return "内存不足";
    case EINVAL:
        return "参数无效";
    case EFBIG:
        return "文件过大";
    case ETXTBSY:
        return "文件正被使用";
    case EINTR:
        return "操作被中断";
    case ENODEV:
    case ENXIO:
        return "设备不可用";
    default:
        return "系统错误（错误码 " + std::to_string(error) + "）";
    }
}

std::string abbreviatedPath(const std::string& path) {
    constexpr size_t kWhole = 80, kEnd = 40;
    if (path.size() <= kWhole) {
        return path;
    }
    auto continuation = [&](size_t at) { return (static_cast<unsigned char>(path[at]) & 0xC0) == 0x80; };
    size_t head = kEnd;
    while (head > 0 && continuation(head)) {
        --head;
    }
    size_t tail = path.size() - kEnd;
    while (tail < path.size() && continuation(tail)) {
        ++tail;
    }
    return path.substr(0, head) + "…" + path.substr(tail);
}

std::string pathTooLong(const std::string& path) {
    return "路径过长，超出系统限制：" + abbreviatedPath(path) + "（共 " + std::to_string(path.size()) + " 字节）。";
}

std::string linkOrSpecialFile(const std::string& path) {
    return "拒绝链接或特殊文件：" + path;
}

SystemError::SystemError(SystemOperation operation, std::string path, int error)
    : m_operation(operation), m_path(std::move(path)), m_error(error) {
    m_description = error == ENAMETOOLONG
                        ? pathTooLong(m_path)
                        : std::string(verb(operation)) + "“" + m_path + "”：" + errnoText(error) + "。";
}

std::string describe(const std::exception& failure) {
    return failure.what();
}

} // namespace olvex
