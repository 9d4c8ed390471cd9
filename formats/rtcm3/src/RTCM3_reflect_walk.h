#pragma once
// The walk over a record as a template: a writer whose visitor class is final has its calls
// bound and inlined, where the public walk() goes through the Visitor interface. Internal.

#include "RTCM3_reflect.h"

namespace Kvt::Nuvrix::reflect::detail {

inline uint32_t countOf(const Field &f, const void *record, const void *parent)
{
    if (f.countType == CType::Record)
        return f.fixedCount;
    const void *holder = (f.flags & layout::CountInParent) ? parent : record;
    if (!holder)
        return 0;
    const Number n = numberOf(f.countType, static_cast<const uint8_t *>(holder) + f.countOffset, 0);
    return n.kind == Number::Kind::Signed ? (n.i < 0 ? 0 : uint32_t(n.i)) : uint32_t(n.u);
}

// The frame header's rows are left out: they are the frame's, not the record's.
// The parent is the record the walk came from, not the record's stored parent link: a
// record copied by value still points at the original's parent.
template <class V>
void walkFields(const RecordLayout &info, const void *record, const void *parent, uint16_t number, V &v)
{
    const auto *base = static_cast<const uint8_t *>(record);
    for (uint16_t k = layout::firstMember(info); k < info.fieldCount; ++k) {
        const Field &row = info.fields[k];
        if ((row.flags & Reserved) || (row.present && !row.present(number, record)))
            continue;
        const Field &f = rowIn(row, number);  // after the checks: a skipped row's meaning stays unread
        const uint8_t *member = base + f.offset;
        switch (f.kind) {
        case Kind::Scalar:
        case Kind::Derived:
            v.value(f, numberAt(f, member, 0));
            break;
        case Kind::Array:
            if (!(f.flags & Text)) {
                const uint32_t n = countOf(f, record, parent);
                v.array(f, member, n < f.capacity ? n : f.capacity);
                break;
            }
            [[fallthrough]];
        case Kind::String: {
            const uint32_t n = countOf(f, record, parent);
            v.string(f, std::string_view(reinterpret_cast<const char *>(member), n < f.capacity ? n : f.capacity));
            break;
        }
        case Kind::Embed:
            v.beginEmbed(f);
            walkFields(*f.sub, member, record, number, v);
            v.endEmbed(f);
            break;
        case Kind::Group: {
            const uint8_t *elements;
            std::memcpy(&elements, member, sizeof(elements));
            const uint32_t n = elements ? countOf(f, record, parent) : 0;
            const uint32_t size = f.sub->size;
            v.beginGroup(f, n);
            for (uint32_t i = 0; i < n; ++i) {
                v.beginElement(f, i);
                walkFields(*f.sub, elements + std::size_t(i) * size, record, number, v);
                v.endElement(f, i);
            }
            v.endGroup(f);
            break;
        }
        }
    }
}

} // namespace Kvt::Nuvrix::reflect::detail
