// The README's table of the transaction codes a back-end sees, made from the
// code table itself, and the block of the README that holds it, so that a
// test can tell when the two have drifted apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm::codetable {

// The lines that mark the table's block in the README; the block is what
// lies between them, each of them on a line of its own.
inline constexpr std::string_view kBlockBegin = "<!-- codes begin -->\n";
inline constexpr std::string_view kBlockEnd = "<!-- codes end -->\n";

// The table in Markdown: one row per code that has a name, in number order.
std::string CodeTableMarkdown();

// The block between the markers; nullopt when the text lacks either marker
// or has them out of order.
std::optional<std::string_view> FindBlock(std::string_view readme);

// The text with its block replaced by `block`; nullopt as for FindBlock.
std::optional<std::string> ReplaceBlock(std::string_view readme, std::string_view block);

// The 1-based line of `block` where it first differs from `wanted`; 0 when
// they are the same.
size_t FirstDifferentLine(std::string_view block, std::string_view wanted);

}  // namespace qm::codetable
