#pragma once

// Told once the store file has been read at start-up. Engines and forms that must wait for the
// stored state derive from it and register with the data saver.
class DataLoadedEventHandler
{
public:
    virtual ~DataLoadedEventHandler() = default;
    // The store holds what was saved (or only the defaults, on a first start).
    virtual void DataLoaded() {}
    // There was no store file to read; comes right after DataLoaded().
    virtual void NoData() {}
};
