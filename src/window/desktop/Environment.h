#pragma once

#include <QString>

// The folder the program was started from; the optional files that change
// its look sit there.
class ProgramFolder {
public:
    virtual ~ProgramFolder() = default;
    virtual QString path() const = 0;
};

// The pseudo-random generator of the home-page draw.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void seedFromClock() = 0;
    // A uniform fraction in [0, 1).
    virtual double nextFraction() = 0;
};

// Ends the process at once, from wherever it is called: also from inside a
// handler that is letting events through.
class ProgramExit {
public:
    virtual ~ProgramExit() = default;
    virtual void exitNow() = 0;
};
