#pragma once

#include <QByteArray>
#include <QMetaObject>

#include <exception>
#include <functional>
#include <stop_token>

class QProcess;

// Gives a running program its standard input from a source, block by block. The next block is asked for
// only while less than InputBacklog waits to be written, so input of any size passes through in little
// memory; a program that reads slowly slows the source down instead of filling ours.
class TProgramInput {
  public:
    static constexpr qint64 InputBacklog = 1 << 20;

    // The source returns the next block, empty at the end; it is called on this thread, from the event
    // loop that serves the program, and never once a stop is asked for.
    TProgramInput(QProcess& process, std::function<QByteArray()> source, std::stop_token stop);
    ~TProgramInput();
    TProgramInput(const TProgramInput&) = delete;
    TProgramInput& operator=(const TProgramInput&) = delete;

    // Writes the first blocks; call once the program has started. The rest follow as it reads.
    void Start();
    // Writes nothing more and leaves the input open: a program being stopped must not see an end of
    // input, which it would take for the whole of it (psql would commit a restore cut short).
    void Halt() { FHalted = true; }
    // What the source threw, if it threw: the program has then been ended at once, input open.
    std::exception_ptr Failure() const { return FFailure; }

  private:
    void Feed();

    QProcess& FProcess;
    std::function<QByteArray()> FSource;
    std::stop_token FStop;
    // Cut when this goes: a process that outlives it may still signal while it is reaped.
    QMetaObject::Connection FWritten;
    QMetaObject::Connection FFailed;
    bool FHalted = false;
    std::exception_ptr FFailure;
};
