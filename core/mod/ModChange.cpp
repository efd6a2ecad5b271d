#include "mod/ModChange.h"

#include "archive/ArchiveDiff.h"
#include "base/Checksum.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace kiv {

namespace {

[[noreturn]] void Bad(const std::string& why) {
    throw EBadMod(why);
}

constexpr ModChangeKind kKinds[] = {
    ModChangeKind::Gap,    ModChangeKind::Member, ModChangeKind::Icon,  ModChangeKind::Add,
    ModChangeKind::Remove, ModChangeKind::Move,   ModChangeKind::Field, ModChangeKind::Tail};

// Where new and moved members go: `after` names a base member by its place in the base, also
// when this mod moves that member too; a member this mod removes has no place to go after,
// and moves that go after one another in a ring (or after themselves) have no first one.
void CheckPlaces(const std::vector<ModChange>& changes,
                 const std::map<MemberKey, const ModChange*>& bytes,
                 const std::map<MemberKey, const ModChange*>& moved) {
    for (std::size_t k = 0; k < changes.size(); ++k) {
        const ModChange& c = changes[k];
        if (!Placed(c.Kind) || c.First)
            continue;
        const std::string where = "change " + std::to_string(k + 1);
        const auto removed = bytes.find(c.After);
        if (removed != bytes.end() && removed->second->Kind == ModChangeKind::Remove)
            Bad(where + " puts " + MemberLabel(c.Member) + " after member " + MemberLabel(c.After) +
                ", which this mod removes");
        if (c.Kind == ModChangeKind::Move && c.After == c.Member)
            Bad(where + " moves member " + MemberLabel(c.Member) + " after itself");
    }
    // Each moved member leads to at most one other (the moved member it goes after): a walk
    // from each, marking where it has been, finds every ring once.
    std::map<MemberKey, int> state; // 1: on the current walk, 2: done
    for (const auto& [start, change] : moved) {
        std::vector<const ModChange*> walk;
        const ModChange* at = change;
        while (at && !state.count(at->Member)) {
            state[at->Member] = 1;
            walk.push_back(at);
            const auto next = at->First ? moved.end() : moved.find(at->After);
            at = next == moved.end() ? nullptr : next->second;
        }
        if (at && state[at->Member] == 1) {
            std::vector<std::string> ring;
            for (auto it = std::find(walk.begin(), walk.end(), at); it != walk.end(); ++it)
                ring.push_back(MemberLabel((*it)->Member));
            std::string names;
            for (std::size_t n = 0; n < ring.size(); ++n)
                names += (n == 0 ? "" : n + 1 == ring.size() ? " and " : ", ") + ring[n];
            Bad("members " + names + " are moved each after another of them, in a ring");
        }
        for (const ModChange* done : walk)
            state[done->Member] = 2;
    }
}

// A member's bytes change once (whole, removed, or icon by icon with the icons in order and
// their streams one after another in one entry), it moves once and its name field changes
// once; the gap and the tail change once.
void CheckTogether(const std::vector<ModChange>& changes) {
    bool gap = false, tail = false;
    std::map<MemberKey, const ModChange*> bytes, lastIcon, moved, field;
    const auto once = [](std::map<MemberKey, const ModChange*>& seen, const ModChange& c,
                         const std::string& where) {
        if (!seen.emplace(c.Member, &c).second)
            Bad(where + " changes member " + MemberLabel(c.Member) + " a second time");
    };
    for (std::size_t k = 0; k < changes.size(); ++k) {
        const ModChange& c = changes[k];
        const std::string where = "change " + std::to_string(k + 1);
        switch (c.Kind) {
        case ModChangeKind::Gap:
        case ModChangeKind::Tail: {
            bool& seen = c.Kind == ModChangeKind::Gap ? gap : tail;
            if (seen)
                Bad(where + " changes the " + KindName(c.Kind) + " a second time");
            seen = true;
            break;
        }
        case ModChangeKind::Member:
        case ModChangeKind::Remove:
            if (lastIcon.count(c.Member))
                Bad(where + " changes member " + MemberLabel(c.Member) + " a second time");
            once(bytes, c, where);
            break;
        case ModChangeKind::Icon: {
            if (bytes.count(c.Member))
                Bad(where + " changes member " + MemberLabel(c.Member) + " a second time");
            const auto before = lastIcon.find(c.Member);
            if (before != lastIcon.end()) {
                const ModChange& p = *before->second;
                if (c.Icon <= p.Icon || c.File != p.File || c.At < p.At + p.Length)
                    Bad(where + ": the icons of member " + MemberLabel(c.Member) +
                        " are not in order, one stream after another");
            }
            lastIcon[c.Member] = &c;
            break;
        }
        case ModChangeKind::Move:
            once(moved, c, where);
            break;
        case ModChangeKind::Field:
            once(field, c, where);
            break;
        case ModChangeKind::Add:
            break;
        }
    }
    for (const auto& [key, change] : bytes)
        if (change->Kind == ModChangeKind::Remove && (moved.count(key) || field.count(key)))
            Bad("member " + MemberLabel(key) + " is removed, yet changed otherwise too");
    CheckPlaces(changes, bytes, moved);
}

} // namespace

const char* KindName(ModChangeKind kind) {
    switch (kind) {
    case ModChangeKind::Gap:
        return "gap";
    case ModChangeKind::Member:
        return "member";
    case ModChangeKind::Icon:
        return "icon";
    case ModChangeKind::Add:
        return "add";
    case ModChangeKind::Remove:
        return "remove";
    case ModChangeKind::Move:
        return "move";
    case ModChangeKind::Field:
        return "field";
    case ModChangeKind::Tail:
        return "tail";
    }
    return "";
}

bool Named(ModChangeKind kind) {
    return kind != ModChangeKind::Gap && kind != ModChangeKind::Tail;
}
bool HasBase(ModChangeKind kind) {
    return kind == ModChangeKind::Gap || kind == ModChangeKind::Member ||
           kind == ModChangeKind::Icon || kind == ModChangeKind::Remove ||
           kind == ModChangeKind::Tail;
}
bool HasResult(ModChangeKind kind) {
    return kind == ModChangeKind::Gap || kind == ModChangeKind::Member ||
           kind == ModChangeKind::Icon || kind == ModChangeKind::Add || kind == ModChangeKind::Tail;
}
bool Placed(ModChangeKind kind) {
    return kind == ModChangeKind::Add || kind == ModChangeKind::Move;
}

bool OfBaseMember(ModChangeKind kind) {
    return Named(kind) && kind != ModChangeKind::Add;
}

bool KindNamed(const std::string& name, ModChangeKind& kind) {
    const auto* found = std::find_if(std::begin(kKinds), std::end(kKinds),
                                     [&](ModChangeKind k) { return name == KindName(k); });
    if (found == std::end(kKinds))
        return false;
    kind = *found;
    return true;
}

void CheckChanges(const std::vector<ModChange>& changes) {
    CheckTogether(changes);
}

ByteSum SumOf(const void* data, std::size_t count) {
    return {static_cast<std::int64_t>(count), Crc32(data, count)};
}

ByteSum RangeSum(const InFile& file, std::int64_t from, std::int64_t to) {
    std::uint32_t crc = 0;
    if (!Crc32Of(file, from, to - from, crc))
        throw EReadError();
    return {to - from, crc};
}

std::string MemberLabel(const MemberKey& key) {
    MemberDiff member;
    member.Name = key.Name;
    member.Occurrence = key.Copy;
    member.Repeated = key.Repeated;
    return MemberLabel(member);
}

} // namespace kiv
