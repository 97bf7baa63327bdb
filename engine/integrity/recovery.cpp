#include "recovery.h"

#include "copier.h"
#include "file_handle.h"
#include "translation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <isa-l/crc.h>
#include <isa-l/erasure_code.h>
#include <limits>
#include <set>
#include <sys/stat.h>

namespace tolvar {

namespace {

constexpr std::uint16_t kFormatVersion = 1;
constexpr std::int64_t kMaxPartSize = std::numeric_limits<std::int32_t>::max();
// Memory for the windows of one group's blocks together, and the largest window of one block.
// A small group gets large windows (few calls), a group of 255 blocks still fits the budget.
constexpr std::size_t kWindowBudget = std::size_t{32} << 20;
constexpr std::size_t kMaxWindow = std::size_t{1} << 20;
// The library's vector code works on whole 64-byte strides; windows are rounded up to them and
// the padding is zeros, which encode to zeros.
constexpr std::size_t kStride = 64;

void putLittle(RecoveryHeaderBytes& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[at + std::size_t(i)] = static_cast<char>((value >> (8 * i)) & 0xff);
}

std::uint64_t getLittle(std::string_view bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return value;
}

std::uint32_t headerCrc(const char* bytes, std::size_t size) {
    return crc32_ieee(0, reinterpret_cast<const unsigned char*>(bytes), size);
}

std::size_t roundUp(std::size_t value, std::size_t stride) {
    return (value + stride - 1) / stride * stride;
}

// The group's generator matrix, (k + N) rows of k: identity above, Cauchy rows below, so that
// any k of its rows are independent and any k surviving blocks determine the rest.
std::vector<unsigned char> generatorMatrix(int k, int n) {
    std::vector<unsigned char> matrix(std::size_t(k + n) * std::size_t(k));
    gf_gen_cauchy1_matrix(matrix.data(), k + n, k);
    return matrix;
}

// One group's coding: the k blocks read, the blocks written, and the coefficients that give
// each written block from the ones read.
struct GroupPlan {
    std::vector<int> readSlots; // k of them
    std::vector<int> writtenSlots;
    std::vector<const RebuildTarget*> writtenTargets;
    std::vector<unsigned char> tables; // the library's expanded coefficient tables
};

// Slots of group g's blocks in code order: its broken files, then the recovery parts.
int slotOfBlock(const RecoveryLayout& layout, int group, int block, int k) {
    return block < k ? group + block * layout.groupCount() : layout.dataCount + (block - k);
}

// Encoding reads the group's data blocks and writes its parity blocks: their coefficients are
// the generator's parity rows themselves, with nothing to solve.
GroupPlan planEncoding(const RecoveryLayout& layout, int group,
                       const std::vector<RebuildTarget>& targets) {
    const int k = layout.groupSize(group);
    const int n = layout.recoveryCount;
    GroupPlan plan;
    for (int block = 0; block < k; ++block)
        plan.readSlots.push_back(slotOfBlock(layout, group, block, k));
    for (const RebuildTarget& target : targets) {
        plan.writtenSlots.push_back(target.slot);
        plan.writtenTargets.push_back(&target);
    }
    auto generator = generatorMatrix(k, n);
    plan.tables.resize(32 * std::size_t(k) * std::size_t(n));
    ec_init_tables(k, n, &generator[std::size_t(k) * std::size_t(k)], plan.tables.data());
    return plan;
}

// Rebuilding reads k surviving blocks and writes the lost ones: their coefficients come from
// inverting the survivors' rows of the generator.
Result<GroupPlan> planRebuild(const RecoveryLayout& layout, int group,
                              const std::vector<const RebuildTarget*>& targetOfSlot) {
    const int k = layout.groupSize(group);
    const int n = layout.recoveryCount;
    GroupPlan plan;
    std::vector<int> survivorBlocks;
    std::vector<int> lostBlocks;
    for (int block = 0; block < k + n; ++block) {
        const int slot = slotOfBlock(layout, group, block, k);
        if (targetOfSlot[std::size_t(slot)] != nullptr) {
            lostBlocks.push_back(block);
            plan.writtenSlots.push_back(slot);
            plan.writtenTargets.push_back(targetOfSlot[std::size_t(slot)]);
        } else if (int(survivorBlocks.size()) < k) {
            survivorBlocks.push_back(block);
            plan.readSlots.push_back(slot);
        }
    }
    if (lostBlocks.empty())
        return plan;

    const auto generator = generatorMatrix(k, n);
    const auto ku = std::size_t(k);
    std::vector<unsigned char> chosen(ku * ku);
    for (std::size_t row = 0; row < ku; ++row)
        std::memcpy(&chosen[row * ku], &generator[std::size_t(survivorBlocks[row]) * ku], ku);
    std::vector<unsigned char> inverse(ku * ku);
    if (gf_invert_matrix(chosen.data(), inverse.data(), k) != 0)
        return makeFailure(FailureKind::InvalidArgument,
                           _("the recovery code cannot be solved for these files"));

    // A lost block is its generator row applied to the data; the data are the inverse applied
    // to the survivors. So its coefficients over the survivors are row x inverse.
    std::vector<unsigned char> coefficients(lostBlocks.size() * ku);
    for (std::size_t i = 0; i < lostBlocks.size(); ++i) {
        const unsigned char* row = &generator[std::size_t(lostBlocks[i]) * ku];
        for (std::size_t col = 0; col < ku; ++col) {
            unsigned char sum = 0;
            for (std::size_t t = 0; t < ku; ++t)
                sum ^= gf_mul(row[t], inverse[t * ku + col]);
            coefficients[i * ku + col] = sum;
        }
    }
    plan.tables.resize(32 * ku * lostBlocks.size());
    ec_init_tables(k, int(lostBlocks.size()), coefficients.data(), plan.tables.data());
    return plan;
}

// Where block data of a slot lies for a group, and how much of a window is really in the file
// (the rest of a broken file's block is padding).
struct Extent {
    off_t offset;
    std::size_t present;
};

Extent extentOf(const RecoveryLayout& layout, int slot, int group, std::int64_t position,
                std::size_t length) {
    if (slot < layout.dataCount) {
        const std::int64_t payload = layout.payloadOf(slot);
        const std::int64_t present =
            std::clamp<std::int64_t>(payload - position, 0, static_cast<std::int64_t>(length));
        return {static_cast<off_t>(std::int64_t(kHeaderSize) + position),
                static_cast<std::size_t>(present)};
    }
    return {static_cast<off_t>(std::int64_t(kRecoveryHeaderSize) +
                               std::int64_t{group} * layout.partSize + position),
            length};
}

Result<void> emit(FileSystem& fs, const RebuildTarget& target, const char* data, std::size_t size) {
    if (target.hash != nullptr)
        target.hash->update(data, size);
    return detail::writeAll(fs, target.fd, data, size, target.path);
}

Result<void> writeHeaders(FileSystem& fs, const RecoveryHeader& set,
                          const std::vector<RebuildTarget>& targets) {
    const RecoveryLayout& layout = set.layout;
    for (const RebuildTarget& target : targets) {
        if (target.slot < layout.dataCount) {
            const HeaderBytes header =
                PartHeader::build(target.slot, layout.dataCount, layout.nameTail);
            if (auto written = emit(fs, target, header.data(), header.size()); !written)
                return written;
        } else {
            RecoveryHeader own = set;
            own.index = target.slot - layout.dataCount;
            const RecoveryHeaderBytes header = buildRecoveryHeader(own);
            if (auto written = emit(fs, target, header.data(), header.size()); !written)
                return written;
        }
    }
    return {};
}

Result<bool> codeGroup(FileSystem& fs, const RecoveryLayout& layout, int group,
                       const GroupPlan& plan, const std::vector<std::string>& slotPaths,
                       detail::ProgressTracker& tracker) {
    const std::size_t k = plan.readSlots.size();
    const std::size_t produced = plan.writtenSlots.size();
    std::vector<detail::FileHandle> inputs;
    for (const int slot : plan.readSlots) {
        auto opened = detail::openForReading(fs, slotPaths[std::size_t(slot)]);
        if (!opened)
            return opened.failure();
        inputs.push_back(std::move(opened.value()));
    }

    const std::size_t partSize = static_cast<std::size_t>(layout.partSize);
    const std::size_t window =
        std::min({std::max(kWindowBudget / (k + produced) / kStride * kStride, kStride), kMaxWindow,
                  roundUp(partSize, kStride)});
    std::vector<unsigned char> memory(window * (k + produced));
    std::vector<unsigned char*> in(k);
    std::vector<unsigned char*> out(produced);
    for (std::size_t i = 0; i < k; ++i)
        in[i] = &memory[i * window];
    for (std::size_t i = 0; i < produced; ++i)
        out[i] = &memory[(k + i) * window];

    for (std::size_t position = 0; position < partSize; position += window) {
        const std::size_t length = std::min(window, partSize - position);
        for (std::size_t i = 0; i < k; ++i) {
            const int slot = plan.readSlots[i];
            const std::string& path = slotPaths[std::size_t(slot)];
            const Extent extent =
                extentOf(layout, slot, group, static_cast<std::int64_t>(position), length);
            auto got = detail::readFully(fs, inputs[i].get(), reinterpret_cast<char*>(in[i]),
                                         extent.present, extent.offset, path);
            if (!got)
                return got.failure();
            if (got.value() < extent.present)
                return makeFailure(FailureKind::IoError,
                                   "'" + path + _("' is shorter than the set calls for"));
            std::fill(in[i] + extent.present, in[i] + window, 0);
        }
        ec_encode_data(int(roundUp(length, kStride)), int(k), int(produced),
                       const_cast<unsigned char*>(plan.tables.data()), in.data(), out.data());
        for (std::size_t i = 0; i < produced; ++i) {
            const RebuildTarget& target = *plan.writtenTargets[i];
            const std::size_t keep =
                extentOf(layout, target.slot, group, static_cast<std::int64_t>(position), length)
                    .present;
            if (auto written = emit(fs, target, reinterpret_cast<char*>(out[i]), keep); !written)
                return written.failure();
        }
        if (!tracker.advance(length * k))
            return false;
    }
    return true;
}

// Writes the targets' headers, then every group's blocks by its plan. Groups in order, windows
// in order: every target is written from its start to its end.
Result<bool> runPlans(FileSystem& fs, const RecoveryHeader& set,
                      const std::vector<std::string>& slotPaths,
                      const std::vector<RebuildTarget>& targets,
                      const std::vector<GroupPlan>& plans, ProgressObserver* observer) {
    std::uint64_t toRead = 0;
    for (const GroupPlan& plan : plans)
        if (!plan.writtenSlots.empty())
            toRead += std::uint64_t(set.layout.partSize) * plan.readSlots.size();
    detail::ProgressTracker tracker(observer, toRead, int(targets.size()));
    if (!targets.empty())
        tracker.setPart(0, targets.front().path);
    if (!tracker.advance(0))
        return false;

    if (auto written = writeHeaders(fs, set, targets); !written)
        return written.failure();
    for (std::size_t group = 0; group < plans.size(); ++group) {
        if (plans[group].writtenSlots.empty())
            continue;
        auto step = codeGroup(fs, set.layout, int(group), plans[group], slotPaths, tracker);
        if (!step || !step.value())
            return step;
    }
    return true;
}

} // namespace

bool RecoveryLayout::valid() const {
    if (dataCount < 1 || dataCount > kMaxPartCount || recoveryCount < 1 ||
        recoveryCount > kMaxRecoveryParts || partSize < 1 || partSize > kMaxPartSize ||
        nameTail.size() > 3)
        return false;
    const std::int64_t full = std::int64_t{dataCount - 1} * partSize;
    return totalLength >= full && totalLength - full < partSize;
}

int RecoveryLayout::groupCount() const {
    const int perGroup = kMaxCodeBlocks - recoveryCount;
    return (dataCount + perGroup - 1) / perGroup;
}

int RecoveryLayout::groupSize(int group) const {
    const int groups = groupCount();
    return (dataCount - group + groups - 1) / groups;
}

std::int64_t RecoveryLayout::payloadOf(int dataIndex) const {
    return dataIndex + 1 < dataCount ? partSize
                                     : totalLength - std::int64_t{dataCount - 1} * partSize;
}

std::int64_t RecoveryLayout::dataFileSize(int dataIndex) const {
    return std::int64_t(kHeaderSize) + payloadOf(dataIndex);
}

std::int64_t RecoveryLayout::recoveryFileSize() const {
    return std::int64_t(kRecoveryHeaderSize) + std::int64_t{groupCount()} * partSize;
}

RecoveryHeaderBytes buildRecoveryHeader(const RecoveryHeader& header) {
    RecoveryHeaderBytes bytes{};
    const RecoveryLayout& layout = header.layout;
    std::memcpy(bytes.data(), kRecoveryMagic.data(), kRecoveryMagic.size());
    putLittle(bytes, 8, kFormatVersion, 2);
    putLittle(bytes, 10, std::uint64_t(header.index), 2);
    putLittle(bytes, 12, std::uint64_t(layout.recoveryCount), 2);
    putLittle(bytes, 14, std::uint64_t(layout.dataCount), 2);
    putLittle(bytes, 16, std::uint64_t(layout.partSize), 8);
    putLittle(bytes, 24, std::uint64_t(layout.totalLength), 8);
    bytes[32] = static_cast<char>(layout.nameTail.size());
    std::memcpy(&bytes[33], layout.nameTail.data(), layout.nameTail.size());
    putLittle(bytes, 60, headerCrc(bytes.data(), 60), 4);
    return bytes;
}

std::optional<RecoveryHeader> parseRecoveryHeader(std::string_view bytes) {
    if (bytes.size() < kRecoveryHeaderSize ||
        bytes.substr(0, kRecoveryMagic.size()) != kRecoveryMagic)
        return std::nullopt;
    if (getLittle(bytes, 60, 4) != headerCrc(bytes.data(), 60) ||
        getLittle(bytes, 8, 2) != kFormatVersion)
        return std::nullopt;
    const auto tailLength = static_cast<unsigned char>(bytes[32]);
    if (tailLength > 3 || std::any_of(bytes.begin() + 33 + tailLength, bytes.begin() + 60,
                                      [](char c) { return c != 0; }))
        return std::nullopt;
    RecoveryHeader header;
    RecoveryLayout& layout = header.layout;
    header.index = int(getLittle(bytes, 10, 2));
    layout.recoveryCount = int(getLittle(bytes, 12, 2));
    layout.dataCount = int(getLittle(bytes, 14, 2));
    const std::uint64_t partSize = getLittle(bytes, 16, 8);
    const std::uint64_t totalLength = getLittle(bytes, 24, 8);
    if (partSize > std::uint64_t(kMaxPartSize) ||
        totalLength > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    layout.partSize = std::int64_t(partSize);
    layout.totalLength = std::int64_t(totalLength);
    layout.nameTail.assign(bytes.data() + 33, tailLength);
    if (!layout.valid() || header.index >= layout.recoveryCount)
        return std::nullopt;
    return header;
}

PartHeader setHeaderOf(const RecoveryHeader& header) {
    PartHeader part;
    part.PartIndex = static_cast<std::int16_t>(header.index);
    part.PartCount = static_cast<std::int16_t>(header.layout.dataCount);
    part.NameTail = header.layout.nameTail;
    return part;
}

Result<RecoveryFile> readRecoveryFile(FileSystem& fs, const std::string& path) {
    RecoveryHeaderBytes bytes{};
    auto start = detail::readFileStart(fs, path, bytes.data(), bytes.size());
    if (!start)
        return start.failure();
    RecoveryFile file;
    file.failure = std::move(start.value().failure);
    file.found = start.value().found;
    if (file.found != FileFound::Regular)
        return file;
    file.header = parseRecoveryHeader(std::string_view(bytes.data(), start.value().length));
    return file;
}

std::string RecoveryFileName(std::string_view base, int index) {
    std::string name(base);
    name += 'r';
    name += char('0' + index / 10);
    name += char('0' + index % 10);
    return name;
}

Result<std::vector<FoundRecoveryPart>> findRecoveryParts(FileSystem& fs, const std::string& base,
                                                         int partCount) {
    std::vector<FoundRecoveryPart> found;
    int expected = kMaxRecoveryParts;
    for (int j = 0; j < expected; ++j) {
        const std::string name = RecoveryFileName(base, j);
        auto file = readRecoveryFile(fs, name);
        if (!file)
            return file.failure();
        const auto& header = file.value().header;
        if (!header || header->index != j || header->layout.dataCount != partCount)
            continue;
        // The first one found says how many there are: no need to look further.
        expected = header->layout.recoveryCount;
        found.push_back({name, *header});
    }
    return found;
}

bool canRebuild(const RecoveryLayout& layout, const std::vector<int>& lostSlots) {
    if (!layout.valid())
        return false;
    std::set<int> distinct;
    std::vector<int> lostInGroup(std::size_t(layout.groupCount()), 0);
    int lostRecovery = 0;
    for (const int slot : lostSlots) {
        if (slot < 0 || slot >= layout.slotCount() || !distinct.insert(slot).second)
            return false;
        if (slot < layout.dataCount)
            ++lostInGroup[std::size_t(layout.groupOf(slot))];
        else
            ++lostRecovery;
    }
    return std::all_of(lostInGroup.begin(), lostInGroup.end(),
                       [&](int lost) { return lost + lostRecovery <= layout.recoveryCount; });
}

Result<bool> rebuildSlots(FileSystem& fs, const RecoveryHeader& set,
                          const std::vector<std::string>& slotPaths,
                          const std::vector<RebuildTarget>& targets, ProgressObserver* observer) {
    const RecoveryLayout& layout = set.layout;
    std::vector<int> lost;
    for (const RebuildTarget& target : targets)
        lost.push_back(target.slot);
    if (slotPaths.size() != std::size_t(layout.slotCount()) || !canRebuild(layout, lost))
        return makeFailure(FailureKind::InvalidArgument,
                           _("too many files of the set are lost to rebuild them"));
    std::vector<const RebuildTarget*> targetOfSlot(slotPaths.size(), nullptr);
    for (const RebuildTarget& target : targets)
        targetOfSlot[std::size_t(target.slot)] = &target;

    std::vector<GroupPlan> plans;
    for (int group = 0; group < layout.groupCount(); ++group) {
        auto plan = planRebuild(layout, group, targetOfSlot);
        if (!plan)
            return plan.failure();
        plans.push_back(std::move(plan.value()));
    }
    return runPlans(fs, set, slotPaths, targets, plans, observer);
}

Result<bool> writeRecoveryInto(FileSystem& fs, const RecoveryLayout& layout,
                               const std::vector<std::string>& dataPaths,
                               std::vector<RebuildTarget> targets, ProgressObserver* observer,
                               std::vector<Digest>* digests) {
    if (!layout.valid() || dataPaths.size() != std::size_t(layout.dataCount) ||
        targets.size() != std::size_t(layout.recoveryCount))
        return makeFailure(FailureKind::InvalidArgument,
                           _("the recovery parts do not fit the shape of the set"));
    std::vector<Sha256> hashes(std::size_t(digests != nullptr ? layout.recoveryCount : 0));
    for (std::size_t j = 0; j < targets.size(); ++j) {
        targets[j].slot = layout.dataCount + int(j);
        targets[j].hash = hashes.empty() ? nullptr : &hashes[j];
    }
    std::vector<GroupPlan> plans;
    for (int group = 0; group < layout.groupCount(); ++group)
        plans.push_back(planEncoding(layout, group, targets));
    auto step = runPlans(fs, RecoveryHeader{layout, 0}, dataPaths, targets, plans, observer);
    if (!step || !step.value())
        return step;
    if (digests != nullptr)
        for (Sha256& hash : hashes)
            digests->push_back(hash.finish());
    return true;
}

} // namespace tolvar
