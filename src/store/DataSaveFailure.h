#pragma once

// Writing the store file failed part-way. Thrown by value and caught inside the saver.
class DataSaveFailure
{
};
