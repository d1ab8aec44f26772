// Arbitrary words as the command line: parsing, the help and error texts and every command's
// option checks must never crash, hang or leak. Only the checks run: no scan, no file touched.
// The words are the input's lines, or its space-separated words when it has no line break.
#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> words_of(const std::string& text) {
    const char separator = text.find('\n') != std::string::npos ? '\n' : ' ';
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        words.push_back(text.substr(start, at - start));
    words.push_back(text.substr(start));
    return words;
}

// The commands' messages go to std::cerr: kept out of the fuzzer's log while they run.
class quiet_cerr {
public:
    quiet_cerr() : saved_(std::cerr.rdbuf(sink_.rdbuf())) {}
    ~quiet_cerr() { std::cerr.rdbuf(saved_); }
    quiet_cerr(const quiet_cerr&) = delete;
    quiet_cerr& operator=(const quiet_cerr&) = delete;

private:
    std::ostringstream sink_;
    std::streambuf* saved_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> words = words_of(std::string(reinterpret_cast<const char*>(data), size));
    const quiet_cerr quiet;
    CLI::App app{"serflash"};
    const auto commands = serflash::cli::add_all_commands(app);
    std::vector<std::string> reversed(words.rbegin(), words.rend()); // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out, err;
        const int status = app.exit(e, out, err); // the help, the version or the error text
        if (e.get_exit_code() == 0 ? status != 0 : status == 0) std::abort();
        return 0;
    }
    int parsed = 0;
    for (const auto& [sub, command] : commands) {
        if (!sub->parsed()) continue;
        ++parsed;
        if (!command.run) std::abort();
        const int status = command.check ? command.check() : 0;
        if (status != 0 && status != 2) std::abort(); // a bad value is a usage error
    }
    if (parsed != 1) std::abort(); // exactly one command is required
    return 0;
}
