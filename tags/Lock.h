// The configuration lock: "&Lock" asks for a password twice and locks the
// forms against editing; "&Unlock" asks once and unlocks when it matches.
// The password is kept, and stored in the project file, in plain text.
#pragma once

#include <functional>
#include <optional>
#include <string>

class CPlexmarApp;

// Asks for a password under `caption`; nothing when the operator cancelled.
using AskPasswordFn = std::function<std::optional<std::string>(const char* caption)>;

inline constexpr const char* kEnterPasswordCaption = "Enter Password";
inline constexpr const char* kReEnterPasswordCaption = "ReEnter Password for Verification";
inline constexpr const char* kVerificationFailedText = "Password Entry Verification Failed";
inline constexpr const char* kIncorrectPasswordText = "Incorrect Password!";

// The two commands; messages go through the application's host UI.
void LockConfiguration(CPlexmarApp& app, const AskPasswordFn& ask);
void UnlockConfiguration(CPlexmarApp& app, const AskPasswordFn& ask);

// Menu enabling: "&Lock" only while unlocked, "&Unlock" only while locked.
bool IsLockEnabled(const CPlexmarApp& app);
bool IsUnlockEnabled(const CPlexmarApp& app);
