#pragma once

// What the user chose about an item that could not be placed or removed.
enum class FailureAnswer { Retry, Ignore, Abort };
