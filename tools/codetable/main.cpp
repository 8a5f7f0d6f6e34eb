// qm-codetable: prints the README's table of transaction codes from the
// code table, checks the README's copy of it, or brings that copy up to
// date. A test runs the check, so the README never drifts from the code.
//   qm-codetable                    print the table
//   qm-codetable --check README     exit 1 when README's block differs
//   qm-codetable --update README    rewrite README's block
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/version.h"
#include "tools/codetable/markdown.h"

namespace {

constexpr char kUsage[] =
    "usage: qm-codetable [--check FILE | --update FILE]\n"
    "Prints the Markdown table of the transaction codes (service/code_table.cpp),\n"
    "or compares it with the block of FILE (the README) between the lines\n"
    "<!-- codes begin --> and <!-- codes end -->.\n"
    "\n"
    "  --check FILE   exit 0 when FILE's block is the table, 1 when it differs\n"
    "  --update FILE  replace FILE's block by the table\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 the block differs, 2 a usage or file error.\n";

int Check(const char* path, bool update) {
    const auto readme = qm::ReadWholeFile(path, 16 << 20);
    if (!readme) {
        std::fprintf(stderr, "qm-codetable: cannot read %s\n", path);
        return 2;
    }
    const auto block = qm::codetable::FindBlock(*readme);
    if (!block) {
        std::fprintf(stderr, "qm-codetable: %s has no block between %.*s and %.*s\n", path,
                     static_cast<int>(qm::codetable::kBlockBegin.size() - 1),
                     qm::codetable::kBlockBegin.data(),
                     static_cast<int>(qm::codetable::kBlockEnd.size() - 1),
                     qm::codetable::kBlockEnd.data());
        return 2;
    }
    const std::string table = qm::codetable::CodeTableMarkdown();
    const size_t line = qm::codetable::FirstDifferentLine(*block, table);
    if (line == 0)
        return 0;
    if (update) {
        const std::string updated = *qm::codetable::ReplaceBlock(*readme, table);
        if (!qm::ReplaceFile(path, updated.data(), updated.size())) {
            std::fprintf(stderr, "qm-codetable: cannot write %s\n", path);
            return 2;
        }
        return 0;
    }
    std::fprintf(stderr,
                 "qm-codetable: the transaction-code table in %s differs from "
                 "service/code_table.cpp at line %zu of its block; regenerate with "
                 "build/normal/tools/qm-codetable --update README.md\n",
                 path, line);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        const std::string table = qm::codetable::CodeTableMarkdown();
        return std::fwrite(table.data(), 1, table.size(), stdout) == table.size() &&
                       std::fflush(stdout) == 0
                   ? 0
                   : 2;
    }
    const char* option = argv[1];
    if (argc == 2 && (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && (std::strcmp(option, "--version") == 0 || std::strcmp(option, "-V") == 0)) {
        std::printf("qm-codetable %s\n", qm::kVersion);
        return 0;
    }
    if (argc == 3 && std::strcmp(option, "--check") == 0)
        return Check(argv[2], false);
    if (argc == 3 && std::strcmp(option, "--update") == 0)
        return Check(argv[2], true);
    std::fputs(kUsage, stderr);
    return 2;
}
