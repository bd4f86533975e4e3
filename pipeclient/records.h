// Wire records shared by Sevrock and Dornmac.
//
// Every record here crosses the control pipe byte for byte, so its layout is a
// wire format: both targets are 64-bit little-endian, and the static_asserts
// below pin the size and every offset the two programs rely on. Nothing in
// this header may depend on the operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <type_traits>

// Settings of the main group (product key). Field names are the store's value
// names, so a reader can match a field to its key at a glance.
struct ServerSettings {
    uint32_t Address;  // interface to listen on, network byte order; 0 = all
    int32_t Port;
    int32_t DataPort;
    int32_t Timeout;
    int32_t Retransmit;
    int32_t Clients;
    int32_t Options;  // accepted option bits: 1 blksize, 2 timeout, 4 tsize
    int32_t UnixStyle;
    int32_t MMF;
    uint32_t MMFmax;  // held in bytes; 0xFFFFFFFF = no limit
    int32_t Upload;
    int32_t RootIPspecific;
    int32_t WindowSize;
    int32_t LargeFiles;
    int32_t Log;
    int32_t CreateLog;
    int32_t AccessControl;
    int32_t listenFailed;  // not stored: set while the TFTP port cannot be bound
    char Prefix[1024];
    char RootDirectory[1024];
};

struct MulticastSettings {
    int32_t Multicast;
    uint32_t MulticastIp;  // network byte order
    uint16_t MulticastPort;
    uint16_t MulticastLast;
    int32_t MulticastTTL;
};

struct PxeSettings {
    int32_t PXE;
    uint32_t PxeMulticastIp;  // network byte order
    uint16_t PxeMulticastPort;
    uint16_t PxePort;
    uint16_t PxeBlocksize;
    uint16_t reserved;
};

// One transfer. The server keeps these in its client list; pipe command 8
// copies them whole, pointer and handle fields included (they mean nothing to
// the receiver).
struct TransferSession {
    uint16_t opcode;
    uint16_t blockSize;
    uint32_t blockNumber;
    int32_t mode;
    uint32_t textMode;
    uint32_t optionFlags;
    uint32_t transferSize;
    uint32_t timeoutSeconds;
    // The negotiated windowsize option (blocks per acknowledgement); 0 when
    // none. The bytes were padding before, so older readers see no change.
    uint32_t windowSize;
    uint64_t dataSocket;  // all ones when none
    int32_t status;
    uint32_t useFileView;
    uint64_t mappingHandle;
    const uint8_t* viewBase;
    std::FILE* file;
    uint32_t clientAddress;     // network byte order
    uint32_t multicastAddress;  // network byte order
    uint16_t clientPort;        // network byte order
    uint16_t multicastPort;     // host byte order
    uint32_t isMaster;
    uint32_t pxeMulticast;
    int32_t worker;  // -1 once the worker has ended
    uint32_t lastReadBlock;
    // How often the client repeated its request while the transfer ran; the
    // receive loop counts, the worker answers a new repeat at once.
    uint32_t repeatedRequests;
    int64_t finishedAt;
    uint32_t blockLength;
    uint32_t padding2;
    uint8_t* packet;
    uint32_t secondLength;
    uint32_t padding3;
    uint8_t* secondPacket;
    char fileName[1024];
    char peerError[128];
    TransferSession* next;
};

inline constexpr std::size_t kPipeMessageSize = 4096;
inline constexpr std::size_t kPipeHeaderSize = 8;
inline constexpr std::size_t kPipePayloadSize = kPipeMessageSize - kPipeHeaderSize;

// One request or reply of the control pipe.
struct PipeMessage {
    int32_t code;      // request: command; reply: status
    int32_t argument;  // request: length or argument; reply: length or result
    uint8_t payload[kPipePayloadSize];
};

// Commands of the control pipe, and the reply statuses.
enum PipeCommand : int32_t {
    kPipeGetSettings = 1,
    kPipeSetSettings = 2,
    kPipeGetMulticast = 3,
    kPipeSetMulticast = 4,
    kPipeGetPxe = 5,
    kPipeSetPxe = 6,
    kPipePause = 7,
    kPipeGetTransfer = 8,
    kPipeFindFirst = 41,
    kPipeFindNext = 42,
    kPipeFindClose = 43,
    kPipeOpenLog = 44,
    kPipeCloseLog = 45,
    kPipeReadLine = 46,
};

enum PipeStatus : int32_t {
    kPipeDone = 0,
    kPipeUnknownCommand = 1,
    kPipeRefused = 2,
};

// Pause actions of command 7; any other value only reports the state.
inline constexpr int32_t kPipeResume = 1;
inline constexpr int32_t kPipePauseServing = 0;
inline constexpr int32_t kPipeReportOnly = -1;

// A file time: 100-nanosecond intervals since 1601-01-01 UTC, in two halves.
struct LogFileTime {
    uint32_t low;
    uint32_t high;
};

// One entry of a log-directory search (commands 41 and 42): the layout of the
// Windows find-data record, which the Windows server copies as the system
// fills it and the Linux server fills field by field.
struct LogFindData {
    uint32_t attributes;  // kFileAttributeDirectory for a directory
    LogFileTime creationTime;
    LogFileTime lastAccessTime;
    LogFileTime lastWriteTime;
    uint32_t sizeHigh;
    uint32_t sizeLow;
    uint32_t reserved0;
    uint32_t reserved1;
    char fileName[260];
    char alternateFileName[14];
};

inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeNormal = 0x80;

// Reply layouts of the log commands: a token at offset 8, find data at 16.
inline constexpr std::size_t kPipeTokenSize = 8;
inline constexpr std::size_t kPipeFindReplySize = kPipeHeaderSize + kPipeTokenSize + 320;
inline constexpr std::size_t kPipeOpenReplySize = kPipeHeaderSize + kPipeTokenSize;
inline constexpr std::size_t kPipeTransferReplySize = kPipeHeaderSize + 1304;

// Opcodes and option bits shared by the engine and the status view.
enum TftpOpcode : uint16_t {
    kOpReadRequest = 1,
    kOpWriteRequest = 2,
    kOpData = 3,
    kOpAck = 4,
    kOpError = 5,
    kOpOack = 6,
};

enum OptionBit : uint32_t {
    kOptionBlksize = 1,
    kOptionTimeout = 2,
    kOptionTsize = 4,
    kOptionMulticast = 8,
    kOptionWindowsize = 16,
};

enum TransferMode : int32_t {
    kModeNone = 0,
    kModeMail = 1,
    kModeNetascii = 2,
    kModeOctet = 3,
};

inline constexpr uint64_t kNoSocket = ~uint64_t{0};

static_assert(std::is_trivially_copyable_v<ServerSettings>);
static_assert(std::is_trivially_copyable_v<MulticastSettings>);
static_assert(std::is_trivially_copyable_v<PxeSettings>);
static_assert(std::is_trivially_copyable_v<TransferSession>);
static_assert(std::is_trivially_copyable_v<PipeMessage>);
static_assert(sizeof(void*) == 8, "the wire records assume a 64-bit target");

static_assert(sizeof(ServerSettings) == 2120);
static_assert(offsetof(ServerSettings, Address) == 0);
static_assert(offsetof(ServerSettings, Port) == 4);
static_assert(offsetof(ServerSettings, DataPort) == 8);
static_assert(offsetof(ServerSettings, Timeout) == 12);
static_assert(offsetof(ServerSettings, Retransmit) == 16);
static_assert(offsetof(ServerSettings, Clients) == 20);
static_assert(offsetof(ServerSettings, Options) == 24);
static_assert(offsetof(ServerSettings, UnixStyle) == 28);
static_assert(offsetof(ServerSettings, MMF) == 32);
static_assert(offsetof(ServerSettings, MMFmax) == 36);
static_assert(offsetof(ServerSettings, Upload) == 40);
static_assert(offsetof(ServerSettings, RootIPspecific) == 44);
static_assert(offsetof(ServerSettings, WindowSize) == 48);
static_assert(offsetof(ServerSettings, LargeFiles) == 52);
static_assert(offsetof(ServerSettings, Log) == 56);
static_assert(offsetof(ServerSettings, CreateLog) == 60);
static_assert(offsetof(ServerSettings, AccessControl) == 64);
static_assert(offsetof(ServerSettings, listenFailed) == 68);
static_assert(offsetof(ServerSettings, Prefix) == 72);
static_assert(offsetof(ServerSettings, RootDirectory) == 1096);

static_assert(sizeof(MulticastSettings) == 16);
static_assert(offsetof(MulticastSettings, Multicast) == 0);
static_assert(offsetof(MulticastSettings, MulticastIp) == 4);
static_assert(offsetof(MulticastSettings, MulticastPort) == 8);
static_assert(offsetof(MulticastSettings, MulticastLast) == 10);
static_assert(offsetof(MulticastSettings, MulticastTTL) == 12);

static_assert(sizeof(PxeSettings) == 16);
static_assert(offsetof(PxeSettings, PXE) == 0);
static_assert(offsetof(PxeSettings, PxeMulticastIp) == 4);
static_assert(offsetof(PxeSettings, PxeMulticastPort) == 8);
static_assert(offsetof(PxeSettings, PxePort) == 10);
static_assert(offsetof(PxeSettings, PxeBlocksize) == 12);
static_assert(offsetof(PxeSettings, reserved) == 14);

static_assert(sizeof(TransferSession) == 1304);
static_assert(offsetof(TransferSession, opcode) == 0);
static_assert(offsetof(TransferSession, blockSize) == 2);
static_assert(offsetof(TransferSession, blockNumber) == 4);
static_assert(offsetof(TransferSession, mode) == 8);
static_assert(offsetof(TransferSession, textMode) == 12);
static_assert(offsetof(TransferSession, optionFlags) == 16);
static_assert(offsetof(TransferSession, transferSize) == 20);
static_assert(offsetof(TransferSession, timeoutSeconds) == 24);
static_assert(offsetof(TransferSession, windowSize) == 28);
static_assert(offsetof(TransferSession, dataSocket) == 32);
static_assert(offsetof(TransferSession, status) == 40);
static_assert(offsetof(TransferSession, useFileView) == 44);
static_assert(offsetof(TransferSession, mappingHandle) == 48);
static_assert(offsetof(TransferSession, viewBase) == 56);
static_assert(offsetof(TransferSession, file) == 64);
static_assert(offsetof(TransferSession, clientAddress) == 72);
static_assert(offsetof(TransferSession, multicastAddress) == 76);
static_assert(offsetof(TransferSession, clientPort) == 80);
static_assert(offsetof(TransferSession, multicastPort) == 82);
static_assert(offsetof(TransferSession, isMaster) == 84);
static_assert(offsetof(TransferSession, pxeMulticast) == 88);
static_assert(offsetof(TransferSession, worker) == 92);
static_assert(offsetof(TransferSession, lastReadBlock) == 96);
static_assert(offsetof(TransferSession, repeatedRequests) == 100);
static_assert(offsetof(TransferSession, finishedAt) == 104);
static_assert(offsetof(TransferSession, blockLength) == 112);
static_assert(offsetof(TransferSession, packet) == 120);
static_assert(offsetof(TransferSession, secondLength) == 128);
static_assert(offsetof(TransferSession, secondPacket) == 136);
static_assert(offsetof(TransferSession, fileName) == 144);
static_assert(offsetof(TransferSession, peerError) == 1168);
static_assert(offsetof(TransferSession, next) == 1296);

static_assert(sizeof(PipeMessage) == kPipeMessageSize);
static_assert(offsetof(PipeMessage, code) == 0);
static_assert(offsetof(PipeMessage, argument) == 4);
static_assert(offsetof(PipeMessage, payload) == kPipeHeaderSize);

static_assert(std::is_trivially_copyable_v<LogFindData>);
static_assert(sizeof(LogFindData) == 320);
static_assert(offsetof(LogFindData, attributes) == 0);
static_assert(offsetof(LogFindData, creationTime) == 4);
static_assert(offsetof(LogFindData, lastAccessTime) == 12);
static_assert(offsetof(LogFindData, lastWriteTime) == 20);
static_assert(offsetof(LogFindData, sizeHigh) == 28);
static_assert(offsetof(LogFindData, sizeLow) == 32);
static_assert(offsetof(LogFindData, reserved0) == 36);
static_assert(offsetof(LogFindData, reserved1) == 40);
static_assert(offsetof(LogFindData, fileName) == 44);
static_assert(offsetof(LogFindData, alternateFileName) == 304);
static_assert(kPipeFindReplySize == 336);
