// Texts for system error codes: the system's message and the symbolic
// name. The upload dialog recognises a busy port by the name inside the
// text, so the names must be the system's own.
#include "support/winerr.h"

#include "platform/syserr.h"
#include "support/log.h"

#include <cstdio>
#include <cstring>

// Codes 0..199 in ascending order, then the two the program meets beyond.
const WinErrRow WinErrNames[WINERR_ROWS] = {
    {-1, "ERROR_"},
    {0, "SUCCESS"},
    {1, "INVALID_FUNCTION"},
    {2, "FILE_NOT_FOUND"},
    {3, "PATH_NOT_FOUND"},
    {4, "TOO_MANY_OPEN_FILES"},
    {5, "ACCESS_DENIED"},
    {6, "INVALID_HANDLE"},
    {7, "ARENA_TRASHED"},
    {8, "NOT_ENOUGH_MEMORY"},
    {9, "INVALID_BLOCK"},
    {10, "BAD_ENVIRONMENT"},
    {11, "BAD_FORMAT"},
    {12, "INVALID_ACCESS"},
    {13, "INVALID_DATA"},
    {14, "OUTOFMEMORY"},
    {15, "INVALID_DRIVE"},
    {16, "CURRENT_DIRECTORY"},
    {17, "NOT_SAME_DEVICE"},
    {18, "NO_MORE_FILES"},
    {19, "WRITE_PROTECT"},
    {20, "BAD_UNIT"},
    {21, "NOT_READY"},
    {22, "BAD_COMMAND"},
    {23, "CRC"},
    {24, "BAD_LENGTH"},
    {25, "SEEK"},
    {26, "NOT_DOS_DISK"},
    {27, "SECTOR_NOT_FOUND"},
    {28, "OUT_OF_PAPER"},
    {29, "WRITE_FAULT"},
    {30, "READ_FAULT"},
    {31, "GEN_FAILURE"},
    {32, "SHARING_VIOLATION"},
    {33, "LOCK_VIOLATION"},
    {34, "WRONG_DISK"},
    {36, "SHARING_BUFFER_EXCEEDED"},
    {38, "HANDLE_EOF"},
    {39, "HANDLE_DISK_FULL"},
    {50, "NOT_SUPPORTED"},
    {51, "REM_NOT_LIST"},
    {52, "DUP_NAME"},
    {53, "BAD_NETPATH"},
    {54, "NETWORK_BUSY"},
    {55, "DEV_NOT_EXIST"},
    {56, "TOO_MANY_CMDS"},
    {57, "ADAP_HDW_ERR"},
    {58, "BAD_NET_RESP"},
    {59, "UNEXP_NET_ERR"},
    {60, "BAD_REM_ADAP"},
    {61, "PRINTQ_FULL"},
    {62, "NO_SPOOL_SPACE"},
    {63, "PRINT_CANCELLED"},
    {64, "NETNAME_DELETED"},
    {65, "NETWORK_ACCESS_DENIED"},
    {66, "BAD_DEV_TYPE"},
    {67, "BAD_NET_NAME"},
    {68, "TOO_MANY_NAMES"},
    {69, "TOO_MANY_SESS"},
    {70, "SHARING_PAUSED"},
    {71, "REQ_NOT_ACCEP"},
    {72, "REDIR_PAUSED"},
    {80, "FILE_EXISTS"},
    {82, "CANNOT_MAKE"},
    {83, "FAIL_I24"},
    {84, "OUT_OF_STRUCTURES"},
    {85, "ALREADY_ASSIGNED"},
    {86, "INVALID_PASSWORD"},
    {87, "INVALID_PARAMETER"},
    {88, "NET_WRITE_FAULT"},
    {89, "NO_PROC_SLOTS"},
    {100, "TOO_MANY_SEMAPHORES"},
    {101, "EXCL_SEM_ALREADY_OWNED"},
    {102, "SEM_IS_SET"},
    {103, "TOO_MANY_SEM_REQUESTS"},
    {104, "INVALID_AT_INTERRUPT_TIME"},
    {105, "SEM_OWNER_DIED"},
    {106, "SEM_USER_LIMIT"},
    {107, "DISK_CHANGE"},
    {108, "DRIVE_LOCKED"},
    {109, "BROKEN_PIPE"},
    {110, "OPEN_FAILED"},
    {111, "BUFFER_OVERFLOW"},
    {112, "DISK_FULL"},
    {113, "NO_MORE_SEARCH_HANDLES"},
    {114, "INVALID_TARGET_HANDLE"},
    {117, "INVALID_CATEGORY"},
    {118, "INVALID_VERIFY_SWITCH"},
    {119, "BAD_DRIVER_LEVEL"},
    {120, "CALL_NOT_IMPLEMENTED"},
    {121, "SEM_TIMEOUT"},
    {122, "INSUFFICIENT_BUFFER"},
    {123, "INVALID_NAME"},
    {124, "INVALID_LEVEL"},
    {125, "NO_VOLUME_LABEL"},
    {126, "MOD_NOT_FOUND"},
    {127, "PROC_NOT_FOUND"},
    {128, "WAIT_NO_CHILDREN"},
    {129, "CHILD_NOT_COMPLETE"},
    {130, "DIRECT_ACCESS_HANDLE"},
    {131, "NEGATIVE_SEEK"},
    {132, "SEEK_ON_DEVICE"},
    {133, "IS_JOIN_TARGET"},
    {134, "IS_JOINED"},
    {135, "IS_SUBSTED"},
    {136, "NOT_JOINED"},
    {137, "NOT_SUBSTED"},
    {138, "JOIN_TO_JOIN"},
    {139, "SUBST_TO_SUBST"},
    {140, "JOIN_TO_SUBST"},
    {141, "SUBST_TO_JOIN"},
    {142, "BUSY_DRIVE"},
    {143, "SAME_DRIVE"},
    {144, "DIR_NOT_ROOT"},
    {145, "DIR_NOT_EMPTY"},
    {146, "IS_SUBST_PATH"},
    {147, "IS_JOIN_PATH"},
    {148, "PATH_BUSY"},
    {149, "IS_SUBST_TARGET"},
    {150, "SYSTEM_TRACE"},
    {151, "INVALID_EVENT_COUNT"},
    {152, "TOO_MANY_MUXWAITERS"},
    {153, "INVALID_LIST_FORMAT"},
    {154, "LABEL_TOO_LONG"},
    {155, "TOO_MANY_TCBS"},
    {156, "SIGNAL_REFUSED"},
    {157, "DISCARDED"},
    {158, "NOT_LOCKED"},
    {159, "BAD_THREADID_ADDR"},
    {160, "BAD_ARGUMENTS"},
    {161, "BAD_PATHNAME"},
    {162, "SIGNAL_PENDING"},
    {164, "MAX_THRDS_REACHED"},
    {167, "LOCK_FAILED"},
    {170, "BUSY"},
    {173, "CANCEL_VIOLATION"},
    {174, "ATOMIC_LOCKS_NOT_SUPPORTED"},
    {180, "INVALID_SEGMENT_NUMBER"},
    {182, "INVALID_ORDINAL"},
    {183, "ALREADY_EXISTS"},
    {186, "INVALID_FLAG_NUMBER"},
    {187, "SEM_NOT_FOUND"},
    {188, "INVALID_STARTING_CODESEG"},
    {189, "INVALID_STACKSEG"},
    {190, "INVALID_MODULETYPE"},
    {191, "INVALID_EXE_SIGNATURE"},
    {192, "EXE_MARKED_INVALID"},
    {193, "BAD_EXE_FORMAT"},
    {194, "ITERATED_DATA_EXCEEDS_64k"},
    {195, "INVALID_MINALLOCSIZE"},
    {196, "DYNLINK_FROM_INVALID_RING"},
    {197, "IOPL_NOT_ENABLED"},
    {198, "INVALID_SEGDPL"},
    {199, "AUTODATASEG_EXCEEDS_64k"},
    {995, "OPERATION_ABORTED"},
    {317, "MR_MID_NOT_FOUND"},
};

namespace
{

const size_t WINERR_NAME_SIZE = 52;
const size_t WINERR_STR_SIZE = 260;
// The system message, terminator included; the name takes the rest.
const size_t WINERR_MSG_SIZE = 203;

thread_local char winerr_name[WINERR_NAME_SIZE];
thread_local char winerr_str[WINERR_STR_SIZE];

} // namespace

const char *WinErrName(unsigned long code)
{
    const char *prefix = "";
    for (const WinErrRow &row : WinErrNames) {
        if (row.code == -1) {
            prefix = row.name;
            continue;
        }
        if (static_cast<unsigned long>(static_cast<uint32_t>(row.code)) == code) {
            snprintf(winerr_name, sizeof winerr_name, "%s%s", prefix, row.name);
            return winerr_name;
        }
    }
    snprintf(winerr_name, sizeof winerr_name, "ERROR_%lu", code);
    return winerr_name;
}

const char *WinErrStr(unsigned long code)
{
    if (!PlatErrorMessage(code, winerr_str, WINERR_MSG_SIZE)) {
        unsigned long lookup = PlatGetLastError();
        Log("%s(): FormatMessage(%lu): %s <%lu>", "WinErrStr", code, WinErrName(lookup), lookup);
        return WinErrName(code);
    }

    // A one-line system message ends with ". ": the name follows instead.
    size_t len = strlen(winerr_str);
    if (len >= 2 && winerr_str[len - 2] == '.' && winerr_str[len - 1] == ' ') {
        len -= 2;
        winerr_str[len] = '\0';
    }
    snprintf(winerr_str + len, sizeof winerr_str - len, " <%s>", WinErrName(code));
    return winerr_str;
}

const char *WinLastErrStr(void)
{
    return WinErrStr(PlatGetLastError());
}
