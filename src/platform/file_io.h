#pragma once
// Thin file-system layer: every file the program reads or writes goes through it,
// so tests can substitute failing or in-memory files.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace serflash::platform {

struct read_failure {
    std::int64_t pos = 0; // the first byte it could not read
    std::string reason;   // the system's ("Input/output error") or that the file is shorter now
};

class input_file {
public:
    virtual ~input_file() = default;
    // Reads up to n bytes at the current position; returns the bytes read (short at end of file,
    // and on a read error, which first_failed_read() then tells).
    virtual std::size_t read(void* dst, std::size_t n) = 0;
    // Positions at an absolute byte offset; false when the position cannot be set.
    virtual bool seek(std::int64_t pos) = 0;
    virtual std::int64_t tell() const = 0;
    // Size of the file in bytes, -1 when unknown.
    virtual std::int64_t size() const = 0;

    // Reads up to n bytes at an absolute position; the current position is then unspecified.
    // Files that answer concurrent_reads() may be read so from several threads at once.
    virtual std::size_t read_at(std::int64_t pos, void* dst, std::size_t n) { return seek(pos) ? read(dst, n) : 0; }
    virtual bool concurrent_reads() const { return false; }
    // A hint that bytes [pos, pos + n) will be read soon.
    virtual void will_need(std::int64_t /*pos*/, std::int64_t /*n*/) {}
    // Brings bytes [pos, pos + n) into the system's cache and returns once they are there (or
    // the reads failed); the bytes the file holds there, 0 past its end. This one reads them
    // through `scratch`; files that can have the system fetch them without a copy do so.
    virtual std::size_t fetch(std::int64_t pos, std::size_t n, std::vector<std::uint8_t>& scratch) {
        if (scratch.size() < n) scratch.resize(n);
        return read_at(pos, scratch.data(), n);
    }
    // True when bytes [pos, pos + n) look to be in the system's cache, so reading them would not
    // wait for the disk (false when the file cannot tell). A hint: pages spread over the range,
    // its first and last among them, may stand for all.
    virtual bool in_memory(std::int64_t /*pos*/, std::size_t /*n*/) const { return false; }
    // The first read that gave fewer bytes than the file held when it was opened (a read error
    // such as EIO, or a file that shrank since), or nullopt. Such bytes are never data: a caller
    // that fills them with zeros asks here before trusting what it read.
    virtual std::optional<read_failure> first_failed_read() const { return std::nullopt; }
};

class output_file {
public:
    virtual ~output_file() = default;
    // Writes all n bytes or returns false.
    virtual bool write(const void* src, std::size_t n) = 0;
    // Flushes and closes; false when anything written could not be stored.
    virtual bool close() = 0;
    // Hands what is buffered to the system (it survives the program being killed); false when
    // anything written so far could not be stored.
    virtual bool flush() { return true; }
    // The system's reason for the last failed write or close ("No space left on device"), or
    // empty when nothing failed or the file cannot tell.
    virtual std::string error() const { return {}; }
};

enum class write_mode { truncate, append };

// What a path names, the path itself not followed when it is a symbolic link.
enum class entry_kind { missing, file, directory, link, other };

class file_system {
public:
    virtual ~file_system() = default;
    // Failures carry a short reason (the system's text, "No such file or directory").
    // open_read follows symbolic links but opens only regular files, and never waits (a FIFO
    // without a writer is refused at once). open_write never writes through a symbolic link.
    virtual result<std::unique_ptr<input_file>> open_read(const std::string& path) = 0;
    virtual result<std::unique_ptr<output_file>> open_write(const std::string& path, write_mode mode) = 0;
    // Creates one folder; fails when it could not be created (including when it exists).
    virtual status make_dir(const std::string& path) = 0;
    virtual bool exists(const std::string& path) = 0;
    // Renames; never replaces an existing target (fails then).
    virtual status rename_no_replace(const std::string& from, const std::string& to) = 0;
    // What the path names, without following a final symbolic link. The default knows only
    // whether something is there.
    virtual entry_kind kind_of(const std::string& path) {
        return exists(path) ? entry_kind::file : entry_kind::missing;
    }
    // True for a folder (not a link to one) holding no entries.
    virtual bool is_empty_dir(const std::string& /*path*/) { return false; }
    // Puts `from` in the place of `to` in one step, replacing it (a link at `to` is replaced, never
    // followed). File systems that cannot do so fail.
    virtual status rename_replacing(const std::string& /*from*/, const std::string& /*to*/) {
        return status::failure("files cannot be replaced here");
    }
    // Removes one file (a link itself, never what it names).
    virtual status remove_file(const std::string& /*path*/) { return status::failure("files cannot be removed here"); }
    // True when several threads may open and write files at once; otherwise every write comes
    // from one thread at a time.
    virtual bool concurrent_writes() { return false; }
};

// The real file system of the machine. Writes past a file-size limit (ulimit -f) fail with
// EFBIG like any other refused write: SIGXFSZ is ignored once this is first called.
file_system& native_file_system();

struct byte_piece {
    const void* data;
    std::size_t size;
};

// Writes the pieces, in order, as the whole file at path. A file already there is replaced only
// once the new one is written in full: the bytes go to path + ".part" beside it first, so that a
// full disk leaves the old file as it was. The failure's reason is the system's.
status write_whole_file(file_system& fs, const std::string& path, std::initializer_list<byte_piece> pieces);
status write_whole_file(file_system& fs, const std::string& path, std::string_view bytes);

} // namespace serflash::platform

namespace serflash::platform {
// An input file over bytes held in memory (tests, generated samples).
std::unique_ptr<input_file> make_memory_input(std::vector<std::uint8_t> bytes);
} // namespace serflash::platform
