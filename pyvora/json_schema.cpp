#include "pyvora/functions.hpp"

#include "protocols/json/schema.hpp"
#include "pyvora/binding/errors.hpp"

namespace pyvora::functions {

Ref json_schema() {
    return str_of(protocols::json::schema());
}

}  // namespace pyvora::functions
