/*
 * Zarfel: discovery and configuration of networked I/O modules.
 *
 * Public C interface of the Zarfel shared library. This header only ever
 * grows: existing declarations keep their names, arguments and meaning,
 * because callers bind them by export number (see zarfel.def).
 *
 * Conventions
 *  - Every export is called from one thread of the caller.
 *  - Texts are NUL-terminated single-byte strings owned by the caller; the
 *    library keeps no caller pointer after a call returns.
 *  - Results are signed 32-bit status codes: 0 success, negative failures.
 */
#ifndef ZARFEL_H
#define ZARFEL_H

#include <stdint.h>

#if defined(_WIN32)
#  define ZARFEL_CALL __stdcall
#  if defined(ZARFEL_BUILDING)
#    define ZARFEL_API __declspec(dllexport)
#  else
#    define ZARFEL_API __declspec(dllimport)
#  endif
#else
#  define ZARFEL_CALL
#  if defined(ZARFEL_BUILDING)
#    define ZARFEL_API __attribute__((visibility("default")))
#  else
#    define ZARFEL_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Minimum sizes of the output buffers of Zarfel_GetModuleInfo, NUL included. */
#define ZARFEL_NAME_SIZE 15
#define ZARFEL_ALIAS_SIZE 12
#define ZARFEL_ADDRESS_SIZE 17 /* IP address, mask, gateway */
#define ZARFEL_MAC_SIZE 18

/* Default ports of the device protocol. */
#define ZARFEL_REPLY_PORT 54321
#define ZARFEL_DEVICE_PORT 57188

/* 1: library version, 0x0100. */
ZARFEL_API uint16_t ZARFEL_CALL Zarfel_GetVersion(void);

/* 2: opens the two sockets and binds the reply port (0 or above 65535 selects
 * 54321). Returns 0; a positive socket-layer start error; -1 unsupported
 * socket version; -2 receiving socket not created; -3 reply port not bound;
 * -4 sending socket not created. Calling it again first releases what the
 * previous call created. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_Init(int32_t replyPort);

/* 3: ends a running search (waiting for it), closes the sockets and the stop
 * event. Non-zero when the stop event was released, 0 when there was none. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_Close(void);

/* 4: sends the search request (null: the standard request) to address:port
 * (port 0 or above 65535 selects 57188) and starts collecting replies.
 * Returns the bytes sent; 0 nothing sent (no search starts); -1 the send
 * failed (the search runs anyway); -10 no sending socket. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_BroadcastStart(const char *address, int32_t port,
                                                     const char *request);

/* 5: asks a running search to end. 1 requested, 0 no search running. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_BroadcastStop(void);

/* 6: copies record number (1-based; 1 or less is the first) into the
 * buffers; a null buffer is skipped. 0 filled, -1 no such record. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetModuleInfo(int32_t number, char *name, char *alias,
                                                    char *ip, char *mask, char *gateway,
                                                    char *mac, int32_t *dhcp);

/* 7: 1 while a search runs, else 0. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetState(void);

/* 8: number of records collected by the current or last search. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetCount(void);

/* 9: sends a configuration request for record `number` holding the alias
 * (when given) and every setting that differs from the module's report, and
 * waits up to 1000 ms for the acknowledgement. 0 accepted; 1 refused; -1 not
 * sent (send failed, no such record, or a piece too long for the protocol);
 * -2 no acknowledgement; -9 nothing to change; -10 no sending socket. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_ConfigModule(int32_t number, const char *ip,
                                                   const char *mask, const char *gateway,
                                                   const char *mac, int32_t dhcp,
                                                   const char *alias);

/* 10: search time-out in ms (at least 1000) and wished number of replies
 * (0 or less: no limit). Takes effect at once, also during a search. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_SetOptions(uint32_t timeoutMs, int32_t wishedNumber);

/* 11: installs the function that shows the library's messages (one OK
 * button). It is called on whichever thread raised the message, possibly the
 * library's receive thread. It may return before the message is dismissed,
 * and on the receive thread it should: Zarfel_Close waits for that thread, so
 * a handler that waits there on the thread calling Zarfel_Close never
 * returns. Null restores the default: on Windows a message box with one OK
 * button, elsewhere the text written to standard error. Returns 0. */
typedef void(ZARFEL_CALL *ZarfelMessageHandler)(const char *text);
ZARFEL_API int32_t ZARFEL_CALL Zarfel_SetMessageHandler(ZarfelMessageHandler handler);

/* 12: copies the host's own address on which the reply of record `number`
 * arrived (dotted text; empty when the system did not say) into `address`,
 * a buffer of at least ZARFEL_ADDRESS_SIZE; a null buffer is skipped. A
 * configuration of that record leaves by the same interface. 0 filled, -1 no
 * such record. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetModuleAdapter(int32_t number, char *address);

/* 13: the source addresses of the acknowledgements that the last
 * Zarfel_ConfigModule ignored because they came neither from the module's
 * reported address nor from the address being given to it; each source once,
 * in order of arrival, at most 64. Returns how many there are and copies
 * number `number` (1-based) as dotted text into `address`, a buffer of at
 * least ZARFEL_ADDRESS_SIZE (empty when there is no such number; a null
 * buffer is skipped). */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetIgnoredAcknowledgement(int32_t number, char *address);

/* Failed socket operations, as Zarfel_GetSocketFailure names them. */
#define ZARFEL_FAILED_NONE 0
#define ZARFEL_FAILED_SOCKET 1  /* a socket could not be created */
#define ZARFEL_FAILED_BIND 2    /* the reply port could not be bound */
#define ZARFEL_FAILED_SEND 3    /* no search request, or the configuration request, could be sent */
#define ZARFEL_FAILED_RECEIVE 4 /* reading the reply port failed */

/* 14: the last failed socket operation of the last Zarfel_Init,
 * Zarfel_BroadcastStart (with the search it started, also while it runs) or
 * Zarfel_ConfigModule, whichever was called last. Returns the operation
 * (ZARFEL_FAILED_NONE when none failed), stores the system's error number in
 * *error and copies the system's text for it into `reason`, cut to
 * reasonSize bytes with the NUL. Null pointers are skipped. */
ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetSocketFailure(int32_t *error, char *reason, int32_t reasonSize);

#ifdef __cplusplus
}
#endif

#endif /* ZARFEL_H */
