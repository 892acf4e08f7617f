// libcurl, bound on first use. Linking it outright loads its TLS, Kerberos
// and LDAP libraries at every start (about 25 ms and 5.7 MB resident) for a
// feature most runs never touch, so the program links these forwarding
// definitions instead and opens the library when a request is first made.
// When the library cannot be opened every call fails as libcurl's own would
// on an internal error.
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>

namespace {

struct CurlApi {
  bool ok = false;
  CURLcode (*global_init)(long);
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
  void (*easy_cleanup)(CURL*);
  CURLM* (*multi_init)();
  CURLMcode (*multi_add_handle)(CURLM*, CURL*);
  CURLMcode (*multi_remove_handle)(CURLM*, CURL*);
  CURLMcode (*multi_perform)(CURLM*, int*);
  CURLMcode (*multi_poll)(CURLM*, curl_waitfd*, unsigned, int, int*);
  CURLMsg* (*multi_info_read)(CURLM*, int*);
  CURLMcode (*multi_cleanup)(CURLM*);
  curl_slist* (*slist_append)(curl_slist*, const char*);
  void (*slist_free_all)(curl_slist*);
  CURLU* (*url)();
  CURLUcode (*url_set)(CURLU*, CURLUPart, const char*, unsigned);
  CURLUcode (*url_get)(CURLU*, CURLUPart, char**, unsigned);
  void (*url_cleanup)(CURLU*);
  void (*free)(void*);
  time_t (*getdate)(const char*, const time_t*);
  CURLcode (*easy_perform)(CURL*);
  void (*easy_reset)(CURL*);
  const char* (*easy_strerror)(CURLcode);
};

template <typename F>
bool Bind(void* lib, F& slot, const char* name) {
  slot = reinterpret_cast<F>(dlsym(lib, name));
  return slot != nullptr;
}

CurlApi Load() {
  CurlApi api{};
  // The run-time name of the library the headers describe; never looked for
  // in the program directory.
  void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return api;
  api.ok = Bind(lib, api.global_init, "curl_global_init") &&
           Bind(lib, api.easy_init, "curl_easy_init") &&
           Bind(lib, api.easy_setopt, "curl_easy_setopt") &&
           Bind(lib, api.easy_getinfo, "curl_easy_getinfo") &&
           Bind(lib, api.easy_cleanup, "curl_easy_cleanup") &&
           Bind(lib, api.multi_init, "curl_multi_init") &&
           Bind(lib, api.multi_add_handle, "curl_multi_add_handle") &&
           Bind(lib, api.multi_remove_handle, "curl_multi_remove_handle") &&
           Bind(lib, api.multi_perform, "curl_multi_perform") &&
           Bind(lib, api.multi_poll, "curl_multi_poll") &&
           Bind(lib, api.multi_info_read, "curl_multi_info_read") &&
           Bind(lib, api.multi_cleanup, "curl_multi_cleanup") &&
           Bind(lib, api.slist_append, "curl_slist_append") &&
           Bind(lib, api.slist_free_all, "curl_slist_free_all") && Bind(lib, api.url, "curl_url") &&
           Bind(lib, api.url_set, "curl_url_set") && Bind(lib, api.url_get, "curl_url_get") &&
           Bind(lib, api.url_cleanup, "curl_url_cleanup") && Bind(lib, api.free, "curl_free") &&
           Bind(lib, api.getdate, "curl_getdate") &&
           Bind(lib, api.easy_perform, "curl_easy_perform") &&
           Bind(lib, api.easy_reset, "curl_easy_reset") &&
           Bind(lib, api.easy_strerror, "curl_easy_strerror");
  // Never closed: handles and strings from it may be in use until exit.
  return api;
}

const CurlApi& Api() {
  static const CurlApi api = Load();
  return api;
}

}  // namespace

extern "C" {

CURLcode curl_global_init(long flags) {
  return Api().ok ? Api().global_init(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init() { return Api().ok ? Api().easy_init() : nullptr; }

// The option's number says the type of its one argument; every handle comes
// from Api(), so a call here with a handle means the library is loaded.
// The enum before "..." is int-sized, as in the library's own definition, so
// va_start is well defined here; clang warns about enums in general.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wvarargs"
#endif
CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
  if (!Api().ok) return CURLE_FAILED_INIT;
  va_list ap;
  va_start(ap, option);
  CURLcode rc;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    rc = Api().easy_setopt(easy, option, va_arg(ap, long));
  } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
    rc = Api().easy_setopt(easy, option, va_arg(ap, curl_off_t));
  } else {
    // Object, function and blob pointers.
    rc = Api().easy_setopt(easy, option, va_arg(ap, void*));
  }
  va_end(ap);
  return rc;
}

CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
  if (!Api().ok) return CURLE_FAILED_INIT;
  va_list ap;
  va_start(ap, info);
  const CURLcode rc = Api().easy_getinfo(easy, info, va_arg(ap, void*));
  va_end(ap);
  return rc;
}

void curl_easy_cleanup(CURL* easy) {
  if (Api().ok) Api().easy_cleanup(easy);
}

CURLM* curl_multi_init() { return Api().ok ? Api().multi_init() : nullptr; }

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) {
  return Api().ok ? Api().multi_add_handle(multi, easy) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
  return Api().ok ? Api().multi_remove_handle(multi, easy) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_perform(CURLM* multi, int* running) {
  return Api().ok ? Api().multi_perform(multi, running) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd* extra, unsigned count, int timeoutMs,
                          int* ready) {
  return Api().ok ? Api().multi_poll(multi, extra, count, timeoutMs, ready) : CURLM_BAD_HANDLE;
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) {
  return Api().ok ? Api().multi_info_read(multi, queued) : nullptr;
}

CURLMcode curl_multi_cleanup(CURLM* multi) {
  return Api().ok ? Api().multi_cleanup(multi) : CURLM_BAD_HANDLE;
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  return Api().ok ? Api().slist_append(list, text) : nullptr;
}

void curl_slist_free_all(curl_slist* list) {
  if (Api().ok) Api().slist_free_all(list);
}

CURLU* curl_url() { return Api().ok ? Api().url() : nullptr; }

CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* text, unsigned flags) {
  return Api().ok ? Api().url_set(url, part, text, flags) : CURLUE_BAD_HANDLE;
}

CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** text, unsigned flags) {
  return Api().ok ? Api().url_get(url, part, text, flags) : CURLUE_BAD_HANDLE;
}

void curl_url_cleanup(CURLU* url) {
  if (Api().ok) Api().url_cleanup(url);
}

void curl_free(void* p) {
  if (Api().ok) Api().free(p);
}

time_t curl_getdate(const char* text, const time_t* unused) {
  return Api().ok ? Api().getdate(text, unused) : -1;
}

CURLcode curl_easy_perform(CURL* easy) {
  return Api().ok ? Api().easy_perform(easy) : CURLE_FAILED_INIT;
}

void curl_easy_reset(CURL* easy) {
  if (Api().ok) Api().easy_reset(easy);
}

const char* curl_easy_strerror(CURLcode code) {
  return Api().ok ? Api().easy_strerror(code) : "libcurl could not be loaded";
}

}  // extern "C"
