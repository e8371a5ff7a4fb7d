// Public interface of the internet client library (libinetclient.so).
//
// The library exports, with C linkage, the classic 29 internet client entry points
// (handles, HTTP requests, FTP files, URL cracking) with their usual parameter
// lists, results, constants and error numbers, and performs the transfers with
// libcurl. Programs load it at run time by name and resolve the entry points; they
// may also include this header for the types and constants.
//
// Conventions shared by every entry point:
// - A failing call returns FALSE / nullptr / INVALID_SET_FILE_POINTER and sets the
//   thread's last error (platform::SetLastError, numbering as below).
// - Handles form a tree: root (InternetOpenA) -> connect (InternetConnectA) ->
//   request / FTP file / FTP find. InternetCloseHandle may be called from any thread;
//   a call blocked under that handle, or under any of its ancestors, then returns
//   FALSE promptly with ERROR_INTERNET_OPERATION_CANCELLED (12017). Closing a parent
//   also invalidates its children; closing such a child afterwards is harmless
//   (FALSE, ERROR_INVALID_HANDLE).
// - Handle values are never reused within a process run.
//
// Behaviour worth knowing, beyond the classic contracts:
// - HttpSendRequestA returns once the final response headers are in (1xx answers,
//   a 401/407 answered by a configured challenge scheme and followed redirects are
//   not final). An HTTP status of 400 or more is not a failure of the send: read it
//   with HttpQueryInfoA.
// - A ranged request ("Range: bytes=N-..." added with HttpAddRequestHeadersA) that
//   is answered with 200 while N is above 0, or with a 206 whose Content-Range does
//   not start at N, makes HttpSendRequestA FAIL with ERROR_INTERNET_EXTENDED_ERROR (12003); the
//   thread's InternetGetLastResponseInfoA text then names the mismatch. No byte of
//   such a body is ever delivered, so it cannot be written at a wrong position. The
//   response headers stay queryable with HttpQueryInfoA. A 200 answering a range
//   from 0 is the body from its first byte and is delivered. The range held against
//   an answer is the Range line of that send (a request sent again with its line
//   replaced is held to the new one).
// - InternetReadFile delivers body bytes as they arrive (0 bytes delivered = end of
//   data). A body that ends before its announced length (Content-Length or
//   Content-Range) makes the read FAIL with ERROR_INTERNET_CONNECTION_ABORTED
//   (12030); it never looks like a normal end. A read that fails (also by a
//   time-out or a close) still reports in lpdwNumberOfBytesRead the bytes it put
//   into the buffer before it failed.
// - InternetSetFilePointer(..., FILE_END, ...) succeeds only when the full length of
//   the response is known (Content-Length, or the total of a Content-Range) AND the
//   server accepts byte ranges ("Accept-Ranges: bytes" or a 206 answer); it then
//   returns the length (high part through lpDistanceToMoveHigh when given) without
//   moving the read position. A length of 4 GiB or more without lpDistanceToMoveHigh
//   fails with ERROR_INVALID_PARAMETER (87) instead of returning its low half.
//   Otherwise it fails with ERROR_INTERNET_INVALID_OPERATION
//   (12016) and returns INVALID_SET_FILE_POINTER.
// - Certificate problems are told apart: ERROR_INTERNET_SEC_CERT_DATE_INVALID (12037),
//   ERROR_INTERNET_SEC_CERT_CN_INVALID (12038), ERROR_INTERNET_INVALID_CA (12045).
//   Each SECURITY_FLAG_IGNORE_* flag set with INTERNET_OPTION_SECURITY_FLAGS ignores
//   only its own problem. A server that asks for a client certificate during the
//   handshake gives ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED (12044) until the caller
//   has set one, or has chosen none, with INTERNET_OPTION_CLIENT_CERT_CONTEXT.
//   Transfers with relaxed checks never share a connection or TLS session with
//   strict ones.
// - INTERNET_OPTION_CLIENT_CERT_CONTEXT (84) takes a CERT_CONTEXT (below) whose
//   encoded bytes are PEM text holding the client certificate and its unencrypted
//   private key; the library copies them. lpBuffer nullptr / length 0 means "go on
//   without a certificate".
// - InternetErrorDlg shows nothing (there is no dialog on this platform): it returns
//   ERROR_CANCELLED (1223) for the certificate and client-certificate errors, meaning
//   "not handled by a user", and the given error code for any other.
// - Proxies: INTERNET_OPEN_TYPE_PROXY uses the given list ("host:port", or entries
//   "scheme=host:port" per scheme) except for hosts matching the bypass list
//   (wildcards, "<local>" = names without a dot); INTERNET_OPEN_TYPE_PRECONFIG uses
//   the usual proxy environment variables; INTERNET_OPEN_TYPE_DIRECT uses none. FTP
//   always connects directly. Proxy credentials (INTERNET_OPTION_PROXY_USERNAME /
//   _PASSWORD) answer Basic and Digest challenges.
// - FTP: InternetConnectA logs in (a refused login fails there with
//   ERROR_INTERNET_EXTENDED_ERROR and the server's reply); FtpFindFirstFileA looks up
//   one file's size and time without a data connection; FtpOpenFileA reads from the
//   start of the file (no restart offset). Failures the server explains give
//   ERROR_INTERNET_EXTENDED_ERROR with its reply in InternetGetLastResponseInfoA.
// - The connection limits (INTERNET_OPTION_MAX_CONNS_PER_SERVER and _PER_1_0_SERVER)
//   are kept and reported; requests never wait for them.
// - Trusted roots: libcurl's default bundle, or the file named by SSL_CERT_FILE.
// - Entry points marked "not implemented" below fail with ERROR_CALL_NOT_IMPLEMENTED.
#pragma once

#include <cstddef>
#include <cstdint>

// ----------------------------------------------------------------------------
// Basic types
// ----------------------------------------------------------------------------

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using PLONG = LONG*;
using LPDWORD = DWORD*;
using DWORD_PTR = std::uintptr_t;
using LPVOID = void*;
using LPCVOID = const void*;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using HWND = void*;
using HINTERNET = void*;
using LPHINTERNET = HINTERNET*;
using INTERNET_PORT = WORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Scheme numbers reported by InternetCrackUrlA.
enum INTERNET_SCHEME : int {
  INTERNET_SCHEME_PARTIAL = -2,
  INTERNET_SCHEME_UNKNOWN = -1,
  INTERNET_SCHEME_DEFAULT = 0,
  INTERNET_SCHEME_FTP = 1,
  INTERNET_SCHEME_GOPHER = 2,
  INTERNET_SCHEME_HTTP = 3,
  INTERNET_SCHEME_HTTPS = 4,
  INTERNET_SCHEME_FILE = 5,
  INTERNET_SCHEME_NEWS = 6,
  INTERNET_SCHEME_MAILTO = 7,
  INTERNET_SCHEME_SOCKS = 8,
  INTERNET_SCHEME_JAVASCRIPT = 9,
  INTERNET_SCHEME_VBSCRIPT = 10,
  INTERNET_SCHEME_RES = 11,
};

// ----------------------------------------------------------------------------
// Structures
// ----------------------------------------------------------------------------

// URL components. dwStructSize must be sizeof(URL_COMPONENTSA). For each text
// component: pointer + capacity (bytes incl. the terminating zero) asks for a copy;
// nullptr + non-zero length asks for a pointer into the given URL; nullptr + 0 asks
// for nothing.
struct URL_COMPONENTSA {
  DWORD dwStructSize;
  LPSTR lpszScheme;
  DWORD dwSchemeLength;
  INTERNET_SCHEME nScheme;
  LPSTR lpszHostName;
  DWORD dwHostNameLength;
  INTERNET_PORT nPort;
  LPSTR lpszUserName;
  DWORD dwUserNameLength;
  LPSTR lpszPassword;
  DWORD dwPasswordLength;
  LPSTR lpszUrlPath;
  DWORD dwUrlPathLength;
  LPSTR lpszExtraInfo;
  DWORD dwExtraInfoLength;
};
using LPURL_COMPONENTSA = URL_COMPONENTSA*;

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// Calendar time, 16 bytes (HTTP_QUERY_FLAG_SYSTEMTIME results are UTC).
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

inline constexpr DWORD MAX_PATH = 260;

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;  // UTC
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;

struct INTERNET_BUFFERSA {
  DWORD dwStructSize;
  INTERNET_BUFFERSA* Next;
  LPCSTR lpcszHeader;
  DWORD dwHeadersLength;
  DWORD dwHeadersTotal;
  LPVOID lpvBuffer;
  DWORD dwBufferLength;
  DWORD dwBufferTotal;
  DWORD dwOffsetLow;
  DWORD dwOffsetHigh;
};
using LPINTERNET_BUFFERSA = INTERNET_BUFFERSA*;

// Certificate context for INTERNET_OPTION_CLIENT_CERT_CONTEXT. Classic layout
// (20 bytes on 32-bit systems); here pbCertEncoded/cbCertEncoded carry PEM text with
// the certificate and its private key. pCertInfo and hCertStore are ignored. The
// option accepts a length of 20 or sizeof(CERT_CONTEXT).
struct CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  void* pCertInfo;
  void* hCertStore;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;
inline constexpr DWORD X509_ASN_ENCODING = 0x00000001;
inline constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;

// Status callback: handle, its context value, status code, information, length.
using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET hInternet, DWORD_PTR dwContext,
                                          DWORD dwInternetStatus, LPVOID lpvStatusInformation,
                                          DWORD dwStatusInformationLength);
using LPINTERNET_STATUS_CALLBACK = INTERNET_STATUS_CALLBACK*;
// Returned by InternetSetStatusCallback on failure.
inline const INTERNET_STATUS_CALLBACK INTERNET_INVALID_STATUS_CALLBACK =
    reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<std::intptr_t>(-1));

// ----------------------------------------------------------------------------
// Constants
// ----------------------------------------------------------------------------

// Ports and limits
inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
inline constexpr DWORD INTERNET_MAX_HOST_NAME_LENGTH = 256;
inline constexpr DWORD INTERNET_MAX_USER_NAME_LENGTH = 128;
inline constexpr DWORD INTERNET_MAX_PASSWORD_LENGTH = 128;
inline constexpr DWORD INTERNET_MAX_PORT_NUMBER_LENGTH = 5;
inline constexpr DWORD INTERNET_MAX_PATH_LENGTH = 2048;
inline constexpr DWORD INTERNET_MAX_SCHEME_LENGTH = 32;
inline constexpr DWORD INTERNET_MAX_URL_LENGTH = 2084;

// InternetCrackUrlA / InternetCreateUrlA / InternetCanonicalizeUrlA flags
inline constexpr DWORD ICU_ESCAPE = 0x80000000;
inline constexpr DWORD ICU_USERNAME = 0x40000000;
inline constexpr DWORD ICU_NO_ENCODE = 0x20000000;
inline constexpr DWORD ICU_DECODE = 0x10000000;
inline constexpr DWORD ICU_NO_META = 0x08000000;
inline constexpr DWORD ICU_ENCODE_SPACES_ONLY = 0x04000000;
inline constexpr DWORD ICU_BROWSER_MODE = 0x02000000;
inline constexpr DWORD ICU_ENCODE_PERCENT = 0x00001000;

// InternetOpenA access types
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;

// InternetConnectA services
inline constexpr DWORD INTERNET_SERVICE_FTP = 1;
inline constexpr DWORD INTERNET_SERVICE_GOPHER = 2;
inline constexpr DWORD INTERNET_SERVICE_HTTP = 3;

// Handle and request flags
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_RAW_DATA = 0x40000000;
inline constexpr DWORD INTERNET_FLAG_EXISTING_CONNECT = 0x20000000;
inline constexpr DWORD INTERNET_FLAG_ASYNC = 0x10000000;
inline constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_DONT_CACHE = INTERNET_FLAG_NO_CACHE_WRITE;
inline constexpr DWORD INTERNET_FLAG_MAKE_PERSISTENT = 0x02000000;
inline constexpr DWORD INTERNET_FLAG_FROM_CACHE = 0x01000000;
inline constexpr DWORD INTERNET_FLAG_OFFLINE = INTERNET_FLAG_FROM_CACHE;
inline constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
inline constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
inline constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
inline constexpr DWORD INTERNET_FLAG_READ_PREFETCH = 0x00100000;
inline constexpr DWORD INTERNET_FLAG_NO_COOKIES = 0x00080000;
inline constexpr DWORD INTERNET_FLAG_NO_AUTH = 0x00040000;
inline constexpr DWORD INTERNET_FLAG_CACHE_IF_NET_FAIL = 0x00010000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr DWORD INTERNET_FLAG_RESYNCHRONIZE = 0x00000800;
inline constexpr DWORD INTERNET_FLAG_HYPERLINK = 0x00000400;
inline constexpr DWORD INTERNET_FLAG_NO_UI = 0x00000200;
inline constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;
inline constexpr DWORD FTP_TRANSFER_TYPE_UNKNOWN = 0x00000000;
inline constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 0x00000001;
inline constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 0x00000002;

// File access and positioning
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

// Options (InternetQueryOptionA / InternetSetOptionA)
inline constexpr DWORD INTERNET_OPTION_CALLBACK = 1;
inline constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr DWORD INTERNET_OPTION_CONNECT_RETRIES = 3;
inline constexpr DWORD INTERNET_OPTION_CONNECT_BACKOFF = 4;
inline constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr DWORD INTERNET_OPTION_CONTROL_SEND_TIMEOUT = INTERNET_OPTION_SEND_TIMEOUT;
inline constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr DWORD INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT = INTERNET_OPTION_RECEIVE_TIMEOUT;
inline constexpr DWORD INTERNET_OPTION_DATA_SEND_TIMEOUT = 7;
inline constexpr DWORD INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;
inline constexpr DWORD INTERNET_OPTION_HANDLE_TYPE = 9;
inline constexpr DWORD INTERNET_OPTION_READ_BUFFER_SIZE = 12;
inline constexpr DWORD INTERNET_OPTION_WRITE_BUFFER_SIZE = 13;
inline constexpr DWORD INTERNET_OPTION_PARENT_HANDLE = 21;
inline constexpr DWORD INTERNET_OPTION_KEEP_CONNECTION = 22;
inline constexpr DWORD INTERNET_OPTION_REQUEST_FLAGS = 23;
inline constexpr DWORD INTERNET_OPTION_EXTENDED_ERROR = 24;
inline constexpr DWORD INTERNET_OPTION_USERNAME = 28;
inline constexpr DWORD INTERNET_OPTION_PASSWORD = 29;
inline constexpr DWORD INTERNET_OPTION_SECURITY_FLAGS = 31;
inline constexpr DWORD INTERNET_OPTION_URL = 34;
inline constexpr DWORD INTERNET_OPTION_PROXY = 38;
inline constexpr DWORD INTERNET_OPTION_VERSION = 40;
inline constexpr DWORD INTERNET_OPTION_USER_AGENT = 41;
inline constexpr DWORD INTERNET_OPTION_PROXY_USERNAME = 43;
inline constexpr DWORD INTERNET_OPTION_PROXY_PASSWORD = 44;
inline constexpr DWORD INTERNET_OPTION_CONTEXT_VALUE = 45;
inline constexpr DWORD INTERNET_OPTION_MAX_CONNS_PER_SERVER = 73;
inline constexpr DWORD INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER = 74;
inline constexpr DWORD INTERNET_OPTION_CLIENT_CERT_CONTEXT = 84;

// Handle types (INTERNET_OPTION_HANDLE_TYPE)
inline constexpr DWORD INTERNET_HANDLE_TYPE_INTERNET = 1;
inline constexpr DWORD INTERNET_HANDLE_TYPE_CONNECT_FTP = 2;
inline constexpr DWORD INTERNET_HANDLE_TYPE_CONNECT_HTTP = 4;
inline constexpr DWORD INTERNET_HANDLE_TYPE_FTP_FIND = 5;
inline constexpr DWORD INTERNET_HANDLE_TYPE_FTP_FILE = 7;
inline constexpr DWORD INTERNET_HANDLE_TYPE_HTTP_REQUEST = 13;

// Security flags (INTERNET_OPTION_SECURITY_FLAGS)
inline constexpr DWORD SECURITY_FLAG_SECURE = 0x00000001;
inline constexpr DWORD SECURITY_FLAG_IGNORE_REVOCATION = 0x00000080;
inline constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
inline constexpr DWORD SECURITY_FLAG_IGNORE_WRONG_USAGE = 0x00000200;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
inline constexpr DWORD SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
inline constexpr DWORD SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;
inline constexpr DWORD SECURITY_FLAG_STRENGTH_WEAK = 0x10000000;
inline constexpr DWORD SECURITY_FLAG_STRENGTH_STRONG = 0x20000000;
inline constexpr DWORD SECURITY_FLAG_STRENGTH_MEDIUM = 0x40000000;

// HttpQueryInfoA levels
inline constexpr DWORD HTTP_QUERY_MIME_VERSION = 0;
inline constexpr DWORD HTTP_QUERY_CONTENT_TYPE = 1;
inline constexpr DWORD HTTP_QUERY_CONTENT_TRANSFER_ENCODING = 2;
inline constexpr DWORD HTTP_QUERY_CONTENT_ID = 3;
inline constexpr DWORD HTTP_QUERY_CONTENT_DESCRIPTION = 4;
inline constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr DWORD HTTP_QUERY_CONTENT_LANGUAGE = 6;
inline constexpr DWORD HTTP_QUERY_ALLOW = 7;
inline constexpr DWORD HTTP_QUERY_PUBLIC = 8;
inline constexpr DWORD HTTP_QUERY_DATE = 9;
inline constexpr DWORD HTTP_QUERY_EXPIRES = 10;
inline constexpr DWORD HTTP_QUERY_LAST_MODIFIED = 11;
inline constexpr DWORD HTTP_QUERY_MESSAGE_ID = 12;
inline constexpr DWORD HTTP_QUERY_URI = 13;
inline constexpr DWORD HTTP_QUERY_DERIVED_FROM = 14;
inline constexpr DWORD HTTP_QUERY_COST = 15;
inline constexpr DWORD HTTP_QUERY_LINK = 16;
inline constexpr DWORD HTTP_QUERY_PRAGMA = 17;
inline constexpr DWORD HTTP_QUERY_VERSION = 18;
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;
inline constexpr DWORD HTTP_QUERY_RAW_HEADERS = 21;
inline constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr DWORD HTTP_QUERY_CONNECTION = 23;
inline constexpr DWORD HTTP_QUERY_ACCEPT = 24;
inline constexpr DWORD HTTP_QUERY_ACCEPT_CHARSET = 25;
inline constexpr DWORD HTTP_QUERY_ACCEPT_ENCODING = 26;
inline constexpr DWORD HTTP_QUERY_ACCEPT_LANGUAGE = 27;
inline constexpr DWORD HTTP_QUERY_AUTHORIZATION = 28;
inline constexpr DWORD HTTP_QUERY_CONTENT_ENCODING = 29;
inline constexpr DWORD HTTP_QUERY_FORWARDED = 30;
inline constexpr DWORD HTTP_QUERY_FROM = 31;
inline constexpr DWORD HTTP_QUERY_IF_MODIFIED_SINCE = 32;
inline constexpr DWORD HTTP_QUERY_LOCATION = 33;
inline constexpr DWORD HTTP_QUERY_ORIG_URI = 34;
inline constexpr DWORD HTTP_QUERY_REFERER = 35;
inline constexpr DWORD HTTP_QUERY_RETRY_AFTER = 36;
inline constexpr DWORD HTTP_QUERY_SERVER = 37;
inline constexpr DWORD HTTP_QUERY_TITLE = 38;
inline constexpr DWORD HTTP_QUERY_USER_AGENT = 39;
inline constexpr DWORD HTTP_QUERY_WWW_AUTHENTICATE = 40;
inline constexpr DWORD HTTP_QUERY_PROXY_AUTHENTICATE = 41;
inline constexpr DWORD HTTP_QUERY_ACCEPT_RANGES = 42;
inline constexpr DWORD HTTP_QUERY_SET_COOKIE = 43;
inline constexpr DWORD HTTP_QUERY_COOKIE = 44;
inline constexpr DWORD HTTP_QUERY_REQUEST_METHOD = 45;
inline constexpr DWORD HTTP_QUERY_REFRESH = 46;
inline constexpr DWORD HTTP_QUERY_CONTENT_DISPOSITION = 47;
inline constexpr DWORD HTTP_QUERY_AGE = 48;
inline constexpr DWORD HTTP_QUERY_CACHE_CONTROL = 49;
inline constexpr DWORD HTTP_QUERY_CONTENT_BASE = 50;
inline constexpr DWORD HTTP_QUERY_CONTENT_LOCATION = 51;
inline constexpr DWORD HTTP_QUERY_CONTENT_MD5 = 52;
inline constexpr DWORD HTTP_QUERY_CONTENT_RANGE = 53;
inline constexpr DWORD HTTP_QUERY_ETAG = 54;
inline constexpr DWORD HTTP_QUERY_HOST = 55;
inline constexpr DWORD HTTP_QUERY_IF_MATCH = 56;
inline constexpr DWORD HTTP_QUERY_IF_NONE_MATCH = 57;
inline constexpr DWORD HTTP_QUERY_IF_RANGE = 58;
inline constexpr DWORD HTTP_QUERY_IF_UNMODIFIED_SINCE = 59;
inline constexpr DWORD HTTP_QUERY_MAX_FORWARDS = 60;
inline constexpr DWORD HTTP_QUERY_PROXY_AUTHORIZATION = 61;
inline constexpr DWORD HTTP_QUERY_RANGE = 62;
inline constexpr DWORD HTTP_QUERY_TRANSFER_ENCODING = 63;
inline constexpr DWORD HTTP_QUERY_UPGRADE = 64;
inline constexpr DWORD HTTP_QUERY_VARY = 65;
inline constexpr DWORD HTTP_QUERY_VIA = 66;
inline constexpr DWORD HTTP_QUERY_WARNING = 67;
inline constexpr DWORD HTTP_QUERY_EXPECT = 68;
inline constexpr DWORD HTTP_QUERY_PROXY_CONNECTION = 69;
inline constexpr DWORD HTTP_QUERY_UNLESS_MODIFIED_SINCE = 70;
inline constexpr DWORD HTTP_QUERY_CUSTOM = 65535;
inline constexpr DWORD HTTP_QUERY_HEADER_MASK = 0x0000FFFF;
// HttpQueryInfoA modifiers
inline constexpr DWORD HTTP_QUERY_FLAG_REQUEST_HEADERS = 0x80000000;
inline constexpr DWORD HTTP_QUERY_FLAG_SYSTEMTIME = 0x40000000;
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;  // 4-byte DWORD
inline constexpr DWORD HTTP_QUERY_FLAG_COALESCE = 0x10000000;
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER64 = 0x08000000;  // 8-byte unsigned
inline constexpr DWORD HTTP_QUERY_MODIFIER_FLAGS_MASK = 0xF8000000;

// HttpAddRequestHeadersA flags
inline constexpr DWORD HTTP_ADDREQ_INDEX_MASK = 0x0000FFFF;
inline constexpr DWORD HTTP_ADDREQ_FLAGS_MASK = 0xFFFF0000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON = 0x01000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_ADD = 0x20000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA = 0x40000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_COALESCE = HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA;
inline constexpr DWORD HTTP_ADDREQ_FLAG_REPLACE = 0x80000000;

// InternetErrorDlg flags
inline constexpr DWORD FLAGS_ERROR_UI_FILTER_FOR_ERRORS = 0x01;
inline constexpr DWORD FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS = 0x02;
inline constexpr DWORD FLAGS_ERROR_UI_FLAGS_GENERATE_DATA = 0x04;
inline constexpr DWORD FLAGS_ERROR_UI_FLAGS_NO_UI = 0x08;
inline constexpr DWORD FLAGS_ERROR_UI_SERIALIZE_DIALOGS = 0x10;

// Status callback codes
inline constexpr DWORD INTERNET_STATUS_RESOLVING_NAME = 10;
inline constexpr DWORD INTERNET_STATUS_NAME_RESOLVED = 11;
inline constexpr DWORD INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
inline constexpr DWORD INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
inline constexpr DWORD INTERNET_STATUS_SENDING_REQUEST = 30;
inline constexpr DWORD INTERNET_STATUS_REQUEST_SENT = 31;
inline constexpr DWORD INTERNET_STATUS_RECEIVING_RESPONSE = 40;
inline constexpr DWORD INTERNET_STATUS_RESPONSE_RECEIVED = 41;
inline constexpr DWORD INTERNET_STATUS_CTL_RESPONSE_RECEIVED = 42;
inline constexpr DWORD INTERNET_STATUS_PREFETCH = 43;
inline constexpr DWORD INTERNET_STATUS_CLOSING_CONNECTION = 50;
inline constexpr DWORD INTERNET_STATUS_CONNECTION_CLOSED = 51;
inline constexpr DWORD INTERNET_STATUS_HANDLE_CREATED = 60;
inline constexpr DWORD INTERNET_STATUS_HANDLE_CLOSING = 70;
inline constexpr DWORD INTERNET_STATUS_DETECTING_PROXY = 80;
inline constexpr DWORD INTERNET_STATUS_REQUEST_COMPLETE = 100;
inline constexpr DWORD INTERNET_STATUS_REDIRECT = 110;
inline constexpr DWORD INTERNET_STATUS_INTERMEDIATE_RESPONSE = 120;
inline constexpr DWORD INTERNET_STATUS_STATE_CHANGE = 200;

// ----------------------------------------------------------------------------
// Error numbers (thread's last error)
// ----------------------------------------------------------------------------

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_CANCELLED = 1223;

inline constexpr DWORD INTERNET_ERROR_BASE = 12000;
inline constexpr DWORD ERROR_INTERNET_OUT_OF_HANDLES = 12001;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_PROTOCOL_NOT_FOUND = 12008;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr DWORD ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
inline constexpr DWORD ERROR_INTERNET_OPTION_NOT_SETTABLE = 12011;
inline constexpr DWORD ERROR_INTERNET_SHUTDOWN = 12012;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_USER_NAME = 12013;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
inline constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPERATION = 12016;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_INTERNET_NOT_PROXY_REQUEST = 12020;
inline constexpr DWORD ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND = 12021;
inline constexpr DWORD ERROR_INTERNET_BAD_REGISTRY_PARAMETER = 12022;
inline constexpr DWORD ERROR_INTERNET_NO_DIRECT_ACCESS = 12023;
inline constexpr DWORD ERROR_INTERNET_NO_CONTEXT = 12024;
inline constexpr DWORD ERROR_INTERNET_NO_CALLBACK = 12025;
inline constexpr DWORD ERROR_INTERNET_REQUEST_PENDING = 12026;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_FORMAT = 12027;
inline constexpr DWORD ERROR_INTERNET_ITEM_NOT_FOUND = 12028;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_INTERNET_FORCE_RETRY = 12032;
inline constexpr DWORD ERROR_INTERNET_INVALID_PROXY_REQUEST = 12033;
inline constexpr DWORD ERROR_INTERNET_NEED_UI = 12034;
inline constexpr DWORD ERROR_INTERNET_HANDLE_EXISTS = 12036;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR = 12039;
inline constexpr DWORD ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR = 12040;
inline constexpr DWORD ERROR_INTERNET_MIXED_SECURITY = 12041;
inline constexpr DWORD ERROR_INTERNET_CHG_POST_IS_NON_SECURE = 12042;
inline constexpr DWORD ERROR_INTERNET_POST_IS_NON_SECURE = 12043;
inline constexpr DWORD ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED = 12044;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP = 12046;
inline constexpr DWORD ERROR_INTERNET_ASYNC_THREAD_FAILED = 12047;
inline constexpr DWORD ERROR_INTERNET_REDIRECT_SCHEME_CHANGE = 12048;
inline constexpr DWORD ERROR_INTERNET_DIALOG_PENDING = 12049;
inline constexpr DWORD ERROR_INTERNET_RETRY_DIALOG = 12050;
inline constexpr DWORD ERROR_INTERNET_HTTPS_HTTP_SUBMIT_REDIR = 12052;
inline constexpr DWORD ERROR_INTERNET_INSERT_CDROM = 12053;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_ERRORS = 12055;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_NO_REV = 12056;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_REV_FAILED = 12057;
inline constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
inline constexpr DWORD ERROR_FTP_DROPPED = 12111;
inline constexpr DWORD ERROR_FTP_NO_PASSIVE_MODE = 12112;
inline constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr DWORD ERROR_HTTP_DOWNLEVEL_SERVER = 12151;
inline constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_HTTP_INVALID_HEADER = 12153;
inline constexpr DWORD ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;
inline constexpr DWORD ERROR_HTTP_HEADER_ALREADY_EXISTS = 12155;
inline constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
inline constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr DWORD ERROR_INTERNET_UNABLE_TO_CACHE_FILE = 12158;
inline constexpr DWORD ERROR_INTERNET_TCPIP_NOT_INSTALLED = 12159;
inline constexpr DWORD ERROR_HTTP_NOT_REDIRECTED = 12160;
inline constexpr DWORD ERROR_HTTP_COOKIE_NEEDS_CONFIRMATION = 12161;
inline constexpr DWORD ERROR_HTTP_COOKIE_DECLINED = 12162;
inline constexpr DWORD ERROR_INTERNET_DISCONNECTED = 12163;
inline constexpr DWORD ERROR_INTERNET_SERVER_UNREACHABLE = 12164;
inline constexpr DWORD ERROR_INTERNET_PROXY_SERVER_UNREACHABLE = 12165;
inline constexpr DWORD ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT = 12166;
inline constexpr DWORD ERROR_INTERNET_UNABLE_TO_DOWNLOAD_SCRIPT = 12167;
inline constexpr DWORD ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION = 12168;
inline constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_REVOKED = 12170;
inline constexpr DWORD ERROR_INTERNET_FAILED_DUETOSECURITYCHECK = 12171;
inline constexpr DWORD ERROR_INTERNET_NOT_INITIALIZED = 12172;
inline constexpr DWORD ERROR_INTERNET_DECODING_FAILED = 12175;

// ----------------------------------------------------------------------------
// Entry points
// ----------------------------------------------------------------------------

extern "C" {

// URLs (no handles; callable from any thread).
BOOL InternetCrackUrlA(LPCSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                       LPURL_COMPONENTSA lpUrlComponents);
BOOL InternetCreateUrlA(LPURL_COMPONENTSA lpUrlComponents, DWORD dwFlags, LPSTR lpszUrl,
                        LPDWORD lpdwUrlLength);
BOOL InternetCanonicalizeUrlA(LPCSTR lpszUrl, LPSTR lpszBuffer, LPDWORD lpdwBufferLength,
                              DWORD dwFlags);
BOOL InternetCombineUrlA(LPCSTR lpszBaseUrl, LPCSTR lpszRelativeUrl, LPSTR lpszBuffer,
                         LPDWORD lpdwBufferLength, DWORD dwFlags);

// Handles.
HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags);
BOOL InternetCloseHandle(HINTERNET hInternet);
HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName,
                           INTERNET_PORT nServerPort, LPCSTR lpszUserName, LPCSTR lpszPassword,
                           DWORD dwService, DWORD dwFlags, DWORD_PTR dwContext);
// Not implemented: fails with ERROR_CALL_NOT_IMPLEMENTED.
HINTERNET InternetOpenUrlA(HINTERNET hInternet, LPCSTR lpszUrl, LPCSTR lpszHeaders,
                           DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead);
BOOL InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                          LPDWORD lpdwBufferLength);
BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                        DWORD dwBufferLength);
// The text of the server's last reply seen by a call on this thread (FTP replies,
// range mismatches). lpdwError receives the reply code (0 when none).
BOOL InternetGetLastResponseInfoA(LPDWORD lpdwError, LPSTR lpszBuffer,
                                  LPDWORD lpdwBufferLength);

// FTP.
HINTERNET FtpFindFirstFileA(HINTERNET hConnect, LPCSTR lpszSearchFile,
                            LPWIN32_FIND_DATAA lpFindFileData, DWORD dwFlags,
                            DWORD_PTR dwContext);
HINTERNET FtpOpenFileA(HINTERNET hConnect, LPCSTR lpszFileName, DWORD dwAccess, DWORD dwFlags,
                       DWORD_PTR dwContext);
// Not implemented: fail with ERROR_CALL_NOT_IMPLEMENTED.
BOOL FtpCreateDirectoryA(HINTERNET hConnect, LPCSTR lpszDirectory);
BOOL FtpRemoveDirectoryA(HINTERNET hConnect, LPCSTR lpszDirectory);
BOOL FtpDeleteFileA(HINTERNET hConnect, LPCSTR lpszFileName);

// HTTP.
HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR dwContext);
BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers);
BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength);
// Not implemented: fail with ERROR_CALL_NOT_IMPLEMENTED.
BOOL HttpSendRequestExA(HINTERNET hRequest, LPINTERNET_BUFFERSA lpBuffersIn,
                        LPINTERNET_BUFFERSA lpBuffersOut, DWORD dwFlags, DWORD_PTR dwContext);
BOOL HttpEndRequestA(HINTERNET hRequest, LPINTERNET_BUFFERSA lpBuffersOut, DWORD dwFlags,
                     DWORD_PTR dwContext);
BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten);
BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
// No user interface: returns ERROR_CANCELLED for certificate errors, dwError otherwise.
DWORD InternetErrorDlg(HWND hWnd, HINTERNET hRequest, DWORD dwError, DWORD dwFlags,
                       LPVOID* lppvData);
DWORD InternetSetFilePointer(HINTERNET hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                             DWORD dwMoveMethod, DWORD_PTR dwContext);
// Cookies are not kept: InternetGetCookieA fails with ERROR_NO_MORE_ITEMS (259),
// InternetSetCookieA with ERROR_CALL_NOT_IMPLEMENTED.
BOOL InternetGetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName, LPSTR lpszCookieData,
                        LPDWORD lpdwSize);
BOOL InternetSetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName, LPCSTR lpszCookieData);
// Registers the callback on a root handle; the handles created under it later report
// to it (from the thread running the call), with their own context values.
INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET hInternet,
                                                   INTERNET_STATUS_CALLBACK lpfnInternetCallback);

// The message table of the library: the text for an internet error number (a
// sentence with a trailing ".\r\n"), or nullptr when the number has none.
const char* InetClientMessageText(DWORD code);

}  // extern "C"
