// Message catalog: every text the program shows is an English key passed
// through tr() when it is used. tr() returns the translation from a GNU
// message catalog (.mo, either byte order) loaded once at start-up, or the
// key itself -- the very same pointer -- when there is none.
//
// This is a small reader of its own: it ignores the environment, the locale,
// the catalog's hash table, plural forms and contexts. Lookup chooses the run
// of keys that share the key's first byte and does a halving search inside it;
// it never allocates. Returned texts belong to the catalog and stay valid
// until the next successful load_catalog() (the program loads once).
#pragma once

// Loads lang/domain relative to the current directory.
// Returns 1 on success, -1 when the file cannot be opened, -2 when it holds
// fewer than 28 bytes, -3 when its magic number is foreign. On -2 and -3 the
// catalog stays as it was. A file cut short inside its tables or strings loads
// what it holds.
int load_catalog(const char* domain, const char* lang);

// Translation of key, or key itself when the catalog has no entry for it.
const char* tr(const char* key);

// Number of entries of the loaded catalog (0 when none is loaded).
unsigned catalog_size();
