// Replaced by the exported functions.
