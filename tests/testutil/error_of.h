// The message of the quillet::Error an action raises, for tables of cases
// that compare messages; "(no error)" when it raises none.
#pragma once

#include "core/error.h"

#include <functional>
#include <string>

namespace quillet::testutil {

inline std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "(no error)";
}

} // namespace quillet::testutil
