#pragma once

// Misuse of the store's schema is a programming error. These are thrown as pointers to new
// objects (throw new TypeNotFoundException) and nothing in the program catches them.
class TypeAlreadyExistsException {};
class TypeNotFoundException {};
class NotRelatedException {};
class AlreadyRelatedException {};
class NullTypeException {};
