// Replaced as the engine's files land.
