#pragma once
// The archives the launcher follows inside a payload (nested zips and
// cabinets, extract/entry_rules.h), checked as it will walk them: each nested
// zip's entries by the payload's rules, its data read back, no overlapping
// entries; each cabinet's structure as the launcher checks it, and its
// members' names; the walk within the nesting depth and the run's counts of
// archives and entries.
#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string>

class NestedArchiveCheck {
  public:
    // payloadEntries: the payload zip's own entries, which count too.
    explicit NestedArchiveCheck(size_t payloadEntries) : entries_(payloadEntries) {}

    // The entry name (UTF-8, as the payload names it) of an archive at level
    // (the payload is 0), holding bytes. Empty, or the refusal that names the
    // archive and what in it the launcher would refuse, skip or fail on.
    std::string Check(const std::string& name, std::streambuf& bytes, int level);

  private:
    std::string CheckZip(const std::string& name, std::streambuf& bytes, int level);
    std::string CheckCabinet(const std::string& name, std::streambuf& bytes);
    std::string CountEntries(const std::string& name, uint64_t count);

    uint32_t archives_ = 1;  // the payload itself
    uint64_t entries_;
};
