#include "mod/ModPlanState.h"

#include "mod/IconCoding.h"

namespace kiv {

namespace modplan {

std::string ReadFailure(const ModPlanState& st) {
    return "Could not read Main Data (" + st.BasePath + ")";
}

void ExpandPlanned(const ModPlanState& st, std::int32_t row, std::int32_t count,
                   const PlannedIcon& icon,
                   const std::function<void(const unsigned char*, std::size_t)>& emit) {
    const ModChange& c = st.Change(icon.From);
    const ModReader& reader = st.Reader(icon.From);
    ZipEntryReader stream(reader.File(), reader.Entry(c.File));
    stream.Skip(c.At);
    ExpandIcon(IconOf(st.Base(), st.Entry(row).Start, count, icon.BaseHeader), c.Base.Size, stream,
               c.Length, c.Result.Size, c.Coding, emit);
}

std::int64_t NewSize(const ModPlanState& st, std::int32_t row, const PlannedMember& pm) {
    switch (pm.What) {
    case PlannedMember::Content::Whole:
        return st.Change(pm.Whole).Result.Size;
    case PlannedMember::Content::Removed:
        return 0;
    case PlannedMember::Content::Icons: {
        std::int64_t size = st.Size(row);
        for (const auto& [number, icon] : pm.Icons)
            size += std::int64_t{icon.NewHeader.Bytes} - icon.BaseHeader.Bytes;
        return size;
    }
    case PlannedMember::Content::Base:
        break;
    }
    return st.Size(row);
}

} // namespace modplan

} // namespace kiv
