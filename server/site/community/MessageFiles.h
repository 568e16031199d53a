#pragma once
// Moving messages between a user's inbox and trash in msgs/. The bytes move as they are, and a
// message that arrives while others move is never lost with them.

#include <optional>
#include <string>

namespace orvex {

// Moves `from` aside under a private name and hands that name back; none when `from` is no file.
std::optional<std::string> TakeMessages(const std::string& from);
// Appends the taken messages to `to` and removes them; when that fails they go back to `back`.
// Whether they reached `to`.
bool PutMessages(const std::string& taken, const std::string& to, const std::string& back);
// Appends every byte of `from` to `to` and removes `from`; false (nothing moved) when `from` is
// no file or `to` cannot be written.
bool MoveMessages(const std::string& from, const std::string& to);

}  // namespace orvex
