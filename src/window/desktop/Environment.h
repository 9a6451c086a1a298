#pragma once

#include <QString>

#include <functional>

// The folder the program was started from; the optional files that change
// its look sit there or, for an installed program, in its data folder.
class ProgramFolder {
public:
    virtual ~ProgramFolder() = default;
    virtual QString path() const = 0;
    // Where an installed program keeps its data files; empty for none.
    virtual QString dataFolder() const { return {}; }

    // Where the optional file at relativePath ('/' between names) is: in the
    // program's folder when `present` says it is there, else in the data
    // folder when it is there. In neither, the path in the program's folder.
    QString optionalFile(const QString& relativePath, const std::function<bool(const QString&)>& present) const
    {
        const QString beside = path() + u'/' + relativePath;
        if (present(beside) || dataFolder().isEmpty())
            return beside;
        const QString installed = dataFolder() + u'/' + relativePath;
        return present(installed) ? installed : beside;
    }
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
