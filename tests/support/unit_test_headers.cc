// Only carries the unit tests' precompiled header, which every unit test program reuses.
