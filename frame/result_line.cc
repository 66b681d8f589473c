#include "frame/result_line.h"

#include <cstdio>

std::string formatResultLine(std::string_view kind, std::string_view vendor, int32_t supported,
                             int32_t changed, std::string_view message) {
    std::string line;
    line.reserve(64 + message.size());
    line.append("result=").append(kind);
    line.append(";vendor=").append(vendor);
    line.append(";supported=").append(std::to_string(supported));
    line.append(";changed=").append(std::to_string(changed));
    line.append(";message=").append(message);
    return line;
}

void StdoutSink::writeLine(std::string_view line) {
    // Handed to the runtime whole and written out by the flush: an unbuffered stream is
    // written a character at a time by msvcrt, and under Wine each of those writes asks the
    // console about the handle first, a round trip to its server per character.
    static bool buffered = std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ) == 0;
    (void)buffered;
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void StderrSink::writeLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void ResultPrinter::printDetail() {
    if (detail_ == nullptr) {
        return;
    }
    for (const Failure& failure : failures_.all()) {
        detail_->writeLine(detailLine(failure));
    }
}

void ResultPrinter::printResultLine(std::string_view kind, int32_t supported, int32_t changed,
                                    std::string_view message) {
    sink_.writeLine(formatResultLine(kind, vendor_, supported, changed, message));
    ++linesPrinted_;
}
