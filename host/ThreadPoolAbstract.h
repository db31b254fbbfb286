#pragma once

#include <QObject>

// A job for the host's thread pool: a worker calls run().
class ThreadPoolItemAbstract : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ThreadPoolItemAbstract() override = default;
    virtual void run() = 0;
};

class ThreadPoolAbstract {
public:
    virtual ~ThreadPoolAbstract() = default;
    // Queues the job; false when the chosen worker's queue is full.
    // The pool does not own the job.
    virtual bool submit(ThreadPoolItemAbstract* job) = 0;
};
