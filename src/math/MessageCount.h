#ifndef VELMORA_MESSAGECOUNT_H
#define VELMORA_MESSAGECOUNT_H

namespace msg
{
/// How many error messages have been written so far, on any thread: a caller that reports a
/// refusal compares it with the count before the reading to know whether the reader has said
/// why already.
unsigned long errorsWritten();
} // namespace msg

#endif
