#pragma once

// What the progress window knows of the thread it is handed: it starts the work with Run, and may ask
// it to stop.
class IBaseThread {
public:
    virtual int Run() = 0;
    virtual void Stop() = 0;
    virtual ~IBaseThread() = default;
};
