#pragma once
#include <string>
#include <vector>

class KeyRanges;

// Access to the INI files of the instrument (the configuration file, the instrument identity file,
// counting protocols). Every call opens the file anew, does its one read or write and closes it,
// so a value written by one component is seen by the next read of any other. All calls of the
// process are serialised by one lock; every write builds the new text in memory and replaces the
// whole file atomically (a hidden temporary file beside it, one fsync of it, the rename, one fsync
// of the folder), so a crash or power loss leaves the old file or the new one, never a torn one.

// Reads one key. A missing file, group or key, or an empty value, sets out to def and gives 0;
// otherwise out is the value (a list typed unquoted as a,b reads back joined as "a, b") and 1.
// For a key of the configuration file's table (KeyRanges::configuration) the table's default
// (or the value of the key it names as its default) stands in for def, and a bad number reads as
// that default too (see the batch).
int ReadPrivateProfileString(std::string section, std::string key, std::string def, std::string &out,
                             std::string file);

// Writes one key, then turns every "%20" in the file into a plain space (names with spaces stay
// readable by hand) and flushes the system's buffers.
void WritePrivateProfileString(std::string section, std::string key, std::string value, std::string file);

// Writes one key without the "%20" clean-up: for writers of many keys in a row, which call
// NormalizePrivateProfile once at the end.
void WriteSetting(std::string section, std::string key, std::string value, std::string file);

// One key of a batch write.
struct PrivateProfileEntry
{
    std::string section;
    std::string key;
    std::string value;
};

// Reads many keys with one parse of the file: each entry's value goes in as its default and comes
// out as ReadPrivateProfileString gives it. Returns how many keys were found. A value that is
// empty or outside its key's range in ranges (for the configuration file,
// KeyRanges::configuration() unless given) reads as the default, the table's where it has one,
// and is logged once per start.
int ReadPrivateProfileBatch(std::vector<PrivateProfileEntry> &entries, std::string file,
                            const KeyRanges *ranges = nullptr);

// Writes many keys as one change of the file: the keys are set in order on one copy, every "%20"
// becomes a space, and the copy replaces the file atomically, so the file on disk holds either
// none or all of them; then the system's buffers are flushed once (SystemActions::sync). False,
// with the file unchanged, when it could not be written.
bool WritePrivateProfileBatch(const std::vector<PrivateProfileEntry> &entries, std::string file);

// The clean-up of WritePrivateProfileString on its own: every "%20" in the file becomes a space,
// the file is replaced atomically and the system's buffers are flushed. False when the file could
// not be read or written.
bool NormalizePrivateProfile(std::string file);

// For tests: every read of a file breaks off with an I/O error after failAfterBytes bytes, as a
// failing card does; -1 (the default) lets reads succeed.
void SetPrivateProfileReadFault(long long failAfterBytes);

// Removes what writers killed mid-write left: ".NAME.*" temporaries and lock files beside the file,
// and scratch copies of processes that are gone. Called at start, before anything writes.
void SweepPrivateProfileLeftovers(std::string file);
