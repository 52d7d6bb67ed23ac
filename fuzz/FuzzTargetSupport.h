#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What every fuzz target does the same way: bring up the toolkit's base library once, and
// turn a broken invariant into a crash that libFuzzer records with its input.
class FuzzTargetSupport
{
public:
    // Exits with a message when the toolkit cannot start: no run would mean anything.
    static void InitialiseToolkit();
    // Does nothing for an empty description.
    static void AbortIfBroken(const std::string& broken);
};
