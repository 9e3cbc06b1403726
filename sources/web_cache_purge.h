#pragma once
// The web cache purge before a daytime fetch: every file under the cache
// folder whose name begins with the first label of the URL's host (without
// user information and port; the whole host when it has no dot).

// Given the URL about to be opened (scheme and port already added). False
// when the registry's folder is not the user's own cache folder
// (os::IsOwnCacheFolder): then nothing is purged.
bool PurgeWebCache(const char16_t* serverText);
// Deletes every file under folderPath, at any depth, whose name matches.
void DeleteMatchingFiles(const char16_t* folderPath, const char16_t* pattern);
// "*" any run, "?" one unit, everything else itself (case-sensitive).
bool MatchWildcard(const char16_t* pattern, const char16_t* name);
