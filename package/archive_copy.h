#pragma once
// Copying the embedded archive out of the running executable into a numbered
// temporary archive OffPlay\rec_N.zip below the temporary folder, after the
// leftovers of earlier runs have been swept away.
#include <windows.h>

#include <cstdint>

// The copy-out moves the archive in blocks of this size: a few hundred reads
// and writes for a payload of hundreds of megabytes instead of tens of
// thousands, with the transfer buffer still of a fixed size.
constexpr DWORD kCopyOutBlockSize = 1024 * 1024;

// path: a 260-character buffer that receives the temporary archive's full
// path (also when the copy fails). Returns 1 when the whole archive was
// copied, 0 otherwise. Needs the executable that the package probe left open
// (PackageSource). On return this process holds the claim on the chosen
// number (see offplay_runs.h) until it ends. The archive written is created
// in place (never through a link); a number whose archive cannot be created
// is passed over for the next.
int GetZipFromExe(wchar_t* path);

// Deletes the temporary archive that GetZipFromExe wrote in this run, through
// the handle it kept on it, never by its name. True when it was deleted.
bool DeleteTemporaryArchive();

// The two ends of the copy, as the copy loop sees them.
class ArchiveCopyStreams {
  public:
    virtual ~ArchiveCopyStreams() = default;
    virtual bool Read(unsigned char* buffer, DWORD size, DWORD* got) = 0;
    virtual bool Write(const unsigned char* buffer, DWORD size, DWORD* written) = 0;
};

enum class CopyOutcome {
    Complete,     // archiveLength bytes were read and written
    ReadFailed,   // a read failed
    SourceEnded,  // a read gave no bytes before archiveLength was reached
    WriteFailed,  // a write failed or wrote fewer bytes than were read
};

// Copies archiveLength bytes in reads of at most chunkSize bytes into buffer
// (room for at least chunkSize bytes).
CopyOutcome CopyArchiveBytes(ArchiveCopyStreams& streams, uint32_t archiveLength,
                             unsigned char* buffer, DWORD chunkSize);
