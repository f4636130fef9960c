#pragma once

// The store file could not be read. Thrown by value; the store has been emptied by then.
class DataLoadFailure
{
};
