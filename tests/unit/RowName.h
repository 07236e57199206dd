// Names table-driven test cases after the `name` field of their row.
#pragma once

#include <string>

namespace tolvanex::testing {

struct RowName {
    template <typename Info> std::string operator()(const Info& row) const {
        return row.param.name;
    }
};

} // namespace tolvanex::testing
