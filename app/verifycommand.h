#ifndef VERIFYCOMMAND_H
#define VERIFYCOMMAND_H

#include "consoleoutput.h"

#include <QString>
#include <QTextStream>

// halcyon --verify [DIRECTORY]: every archive of DIRECTORY, or of the saved output directory,
// proven from the disk, one line each; without DIRECTORY a damaged one is written anew from
// its backup in the saved source directory where that still stands.
class VerifyCommand
{
public:
    enum ExitCode {
        AllWhole = 0,
        SomeDamaged = 1, // repaired or not
        NothingToVerify = 2, // no such directory, or no archive in it
    };

    VerifyCommand();
    int exec(const QString &directory);

private:
    ConsoleOutput m_outDevice{stdout};
    ConsoleOutput m_errDevice{stderr};
    QTextStream m_out{&m_outDevice};
    QTextStream m_err{&m_errDevice};
};

#endif // VERIFYCOMMAND_H
