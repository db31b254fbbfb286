#pragma once

#include <QObject>
#include <QtGlobal>

#include <cstring>

namespace ox::detail {
// The path from the project's source folder on, as the message names it.
inline const char* projectPath(const char* file)
{
    const char* p = std::strstr(file, "source/");
    return p ? p : file;
}
} // namespace ox::detail

// A string-based connection that must succeed: a failure is a programming
// error and stops the program with the connecting function's signature.
#define CHECKED_CONNECT(...)                                                                      \
    do {                                                                                          \
        if (!QObject::connect(__VA_ARGS__))                                                       \
            qt_assert_x(Q_FUNC_INFO, "CHECKED_CONNECT failed", ox::detail::projectPath(__FILE__), \
                        __LINE__);                                                                \
    } while (false)
