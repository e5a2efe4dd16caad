#pragma once
// Encrypt and decrypt runs on streams rather than named files, for a filter
// (standard input and output) and for a test of a container: nothing is
// created, replaced or removed, so no name on the disk ever holds what the
// run reads or makes. They ask nothing and show nothing.
#include "engine/decrypt_pipeline.h"
#include "engine/encrypt_pipeline.h"

#include <QString>

#include <cstdint>
#include <functional>

// Takes the run's output piece by piece, in order; false, with the last
// error set, when it was not all taken.
using OutputPort = std::function<bool(const uint8_t* data, uint32_t size)>;
// Fills `buffer` with up to `size` bytes of the run's input; fewer only at
// its end. False, with the last error set, when reading fails.
using InputPort = std::function<bool(uint8_t* buffer, uint32_t size, uint32_t* count)>;

// Ports on an open descriptor (a pipe, a terminal, a file), which wait as
// long as the other side takes but give up at a stop request. A failure
// leaves errno as the system set it (EPIPE: the reader went away; EINTR: a
// stop request).
OutputPort DescriptorOutput(int fd);
InputPort DescriptorInput(int fd);

// Encrypts all of `plain` into a container handed to `container` as it is
// made. Failed with a code pending (23 for the input, 10 for the output);
// Cancelled at a stop request, nothing pending. What was handed out stays
// handed out: it is no plain data.
EncryptResult EncryptStream(const InputPort& plain, const OutputPort& container,
                            const QString& password);
// The same for the plain file at `plainPath`, opened and refused as
// EncryptFileToContainer opens it and left as it is; Failed (code 23) when it
// changed during the run.
EncryptResult EncryptFileToStream(const QString& plainPath, const OutputPort& container,
                                  const QString& password);

// Decrypts the whole container `container` gives and hands the plain data to
// `plain` as inflate makes it; with no `plain` it goes nowhere, which tests
// the container. BadData for a wrong password, the other strength or a
// damaged or cut container, as DecryptContainerToFile.
DecryptResult DecryptStream(const InputPort& container, const OutputPort& plain,
                            const QString& password);
// The same for the container at `containerPath` (code 18 when it cannot be
// opened), which stays as it is.
DecryptResult DecryptFileToStream(const QString& containerPath, const OutputPort& plain,
                                  const QString& password);
