#include "lumenhollow/model/published_state.h"

namespace lumenhollow {

std::string_view fieldName(Field field) {
    switch (field) {
        case Field::none: return "none";
#define LUMENHOLLOW_FIELD_NAME(Type, name, ...) \
    case Field::name: return #name;
        LUMENHOLLOW_PUBLISHED_FIELDS(LUMENHOLLOW_FIELD_NAME)
#undef LUMENHOLLOW_FIELD_NAME
    }
    return "none";
}

}  // namespace lumenhollow
