// Members of the built-in types that need every type complete.
#include "opcua/types.h"

namespace opcua {

Variant::Variant() = default;
Variant::~Variant() = default;
Variant::Variant(const Variant&) = default;
Variant::Variant(Variant&&) noexcept = default;
Variant& Variant::operator=(const Variant&) = default;
Variant& Variant::operator=(Variant&&) noexcept = default;

}  // namespace opcua
