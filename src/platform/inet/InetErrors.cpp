#include "platform/inet/InetErrors.h"

#include <array>
#include <utility>

#include "platform/LastError.h"

namespace inet {
namespace {

struct MessageEntry {
  DWORD code;
  const char* text;
};

// Sentences in the form the callers expect from a system message table: the
// callers trim the trailing period and line break themselves.
constexpr std::array kMessages = {
    MessageEntry{12001, "No more handles could be generated at this time.\r\n"},
    MessageEntry{12002, "The operation timed out.\r\n"},
    MessageEntry{12003, "An extended error was returned from the server.\r\n"},
    MessageEntry{12004, "An internal error occurred.\r\n"},
    MessageEntry{12005, "The URL is invalid.\r\n"},
    MessageEntry{12006, "The URL does not use a recognized protocol.\r\n"},
    MessageEntry{12007, "The server name or address could not be resolved.\r\n"},
    MessageEntry{12008, "A protocol with the required capabilities was not found.\r\n"},
    MessageEntry{12009, "The option is invalid.\r\n"},
    MessageEntry{12010, "The length is incorrect for the option type.\r\n"},
    MessageEntry{12011, "The option value cannot be set.\r\n"},
    MessageEntry{12012, "Internet client support has been shut down.\r\n"},
    MessageEntry{12013, "The user name was not allowed.\r\n"},
    MessageEntry{12014, "The password was not allowed.\r\n"},
    MessageEntry{12015, "The login request was denied.\r\n"},
    MessageEntry{12016, "The requested operation is invalid.\r\n"},
    MessageEntry{12017, "The operation has been canceled.\r\n"},
    MessageEntry{12018, "The supplied handle is the wrong type for the requested operation.\r\n"},
    MessageEntry{12019, "The handle is in the wrong state for the requested operation.\r\n"},
    MessageEntry{12020, "The request cannot be made on a proxy.\r\n"},
    MessageEntry{12021, "A registry value could not be found.\r\n"},
    MessageEntry{12022, "The registry parameter is incorrect.\r\n"},
    MessageEntry{12023, "Direct Internet access is not available.\r\n"},
    MessageEntry{12024, "No context value was supplied.\r\n"},
    MessageEntry{12025, "No status callback was supplied.\r\n"},
    MessageEntry{12026, "There are outstanding requests.\r\n"},
    MessageEntry{12027, "The information format is incorrect.\r\n"},
    MessageEntry{12028, "The requested item could not be found.\r\n"},
    MessageEntry{12029, "A connection with the server could not be established.\r\n"},
    MessageEntry{12030, "The connection with the server was terminated abnormally.\r\n"},
    MessageEntry{12031, "The connection with the server was reset.\r\n"},
    MessageEntry{12032, "The action must be retried.\r\n"},
    MessageEntry{12033, "The proxy request is invalid.\r\n"},
    MessageEntry{12034, "User interaction is required to complete the operation.\r\n"},
    MessageEntry{12036, "The handle already exists.\r\n"},
    MessageEntry{12037, "The date in the certificate is invalid or has expired.\r\n"},
    MessageEntry{12038, "The host name in the certificate is invalid or does not match.\r\n"},
    MessageEntry{12039, "A redirect request will change a non-secure to a secure connection.\r\n"},
    MessageEntry{12040, "A redirect request will change a secure to a non-secure connection.\r\n"},
    MessageEntry{12041, "Mixed secure and non-secure connections.\r\n"},
    MessageEntry{12042, "Changing to non-secure post.\r\n"},
    MessageEntry{12043, "Data is being posted on a non-secure connection.\r\n"},
    MessageEntry{12044, "A certificate is required to complete client authentication.\r\n"},
    MessageEntry{12045, "The certificate authority is invalid or incorrect.\r\n"},
    MessageEntry{12046, "Client authentication has not been correctly installed.\r\n"},
    MessageEntry{12047, "An error has occurred in a background worker thread.\r\n"},
    MessageEntry{12048, "The redirect changes the protocol.\r\n"},
    MessageEntry{12049, "Another thread has a password dialog box in progress.\r\n"},
    MessageEntry{12050, "The dialog box should be retried.\r\n"},
    MessageEntry{12052, "The data being submitted to an SSL connection is being redirected to a non-SSL connection.\r\n"},
    MessageEntry{12053, "Insert the media to continue.\r\n"},
    MessageEntry{12055, "There is one or more errors in the certificate.\r\n"},
    MessageEntry{12056, "The certificate has no revocation information.\r\n"},
    MessageEntry{12057, "The revocation check of the certificate failed.\r\n"},
    MessageEntry{12110, "There is already an FTP request in progress on this session.\r\n"},
    MessageEntry{12111, "The FTP session was terminated.\r\n"},
    MessageEntry{12112, "FTP passive mode is not available.\r\n"},
    MessageEntry{12150, "The requested header was not found.\r\n"},
    MessageEntry{12151, "The server does not support the requested protocol level.\r\n"},
    MessageEntry{12152, "The server returned an invalid or unrecognized response.\r\n"},
    MessageEntry{12153, "The supplied HTTP header is invalid.\r\n"},
    MessageEntry{12154, "The request for a HTTP header is invalid.\r\n"},
    MessageEntry{12155, "The HTTP header already exists.\r\n"},
    MessageEntry{12156, "The HTTP redirect request failed.\r\n"},
    MessageEntry{12157, "An error occurred in the secure channel support.\r\n"},
    MessageEntry{12158, "The file could not be written to the cache.\r\n"},
    MessageEntry{12159, "The TCP/IP protocol is not installed properly.\r\n"},
    MessageEntry{12160, "The HTTP request was not redirected.\r\n"},
    MessageEntry{12161, "A cookie from the server must be confirmed by the user.\r\n"},
    MessageEntry{12162, "A cookie from the server has been declined acceptance.\r\n"},
    MessageEntry{12163, "The Internet connection has been lost.\r\n"},
    MessageEntry{12164, "The Web site or server indicated is unreachable.\r\n"},
    MessageEntry{12165, "The designated proxy server cannot be reached.\r\n"},
    MessageEntry{12166, "There was an error in the automatic configuration script.\r\n"},
    MessageEntry{12167, "The automatic configuration script could not be downloaded.\r\n"},
    MessageEntry{12168, "The HTTP redirect request must be confirmed by the user.\r\n"},
    MessageEntry{12169, "The SSL certificate is invalid.\r\n"},
    MessageEntry{12170, "The SSL certificate was revoked.\r\n"},
    MessageEntry{12171, "The function failed due to a security check.\r\n"},
    MessageEntry{12172, "Initialization of the internet client library has not occurred.\r\n"},
    MessageEntry{12175, "The server response could not be decoded.\r\n"},
};

struct LastResponse {
  DWORD code = 0;
  std::string text;
};

LastResponse& ThreadLastResponse() {
  thread_local LastResponse response;
  return response;
}

}  // namespace

DWORD MapCurlError(CURLcode code, const TransferFacts& facts) {
  if (facts.cancelled) {
    return ERROR_INTERNET_OPERATION_CANCELLED;
  }
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_RECV_ERROR:
      if (facts.clientCertRequested) {
        return ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
      }
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_ABORTED_BY_CALLBACK:
      return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return facts.connected ? ERROR_HTTP_INVALID_SERVER_RESPONSE
                             : ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
      if (facts.certAuthorityProblem) {
        return ERROR_INTERNET_INVALID_CA;
      }
      if (facts.certDateProblem) {
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
      }
      if (code == CURLE_PEER_FAILED_VERIFICATION) {
        return ERROR_INTERNET_SEC_CERT_CN_INVALID;
      }
      if (facts.clientCertRequested) {
        return ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
      }
      return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
      return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_LOGIN_DENIED:
      return facts.ftpReplySeen ? ERROR_INTERNET_EXTENDED_ERROR : ERROR_INTERNET_LOGIN_FAILURE;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_BAD_CONTENT_ENCODING:
      return ERROR_INTERNET_DECODING_FAILED;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_WRITE_ERROR:
      return ERROR_INTERNET_INTERNAL_ERROR;
    default:
      break;
  }
  if (facts.ftpReplySeen) {
    return ERROR_INTERNET_EXTENDED_ERROR;
  }
  return ERROR_INTERNET_INTERNAL_ERROR;
}

BOOL Fail(DWORD code) {
  platform::SetLastError(code);
  return FALSE;
}

void SetLastResponse(DWORD code, std::string text) {
  LastResponse& response = ThreadLastResponse();
  response.code = code;
  response.text = std::move(text);
}

DWORD LastResponseCode() { return ThreadLastResponse().code; }

const std::string& LastResponseText() { return ThreadLastResponse().text; }

}  // namespace inet

extern "C" const char* InetClientMessageText(DWORD code) {
  for (const auto& entry : inet::kMessages) {
    if (entry.code == code) {
      return entry.text;
    }
  }
  return nullptr;
}
