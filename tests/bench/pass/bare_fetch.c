/* The yardstick for a whole update pass: the same GETs and nothing else. Each URL is
 * fetched with a fresh easy handle, redirects followed, its body written into the file
 * named after it; libcurl's proxy variables apply as they do for the updater.
 *
 *   bare-fetch URL FILE [URL FILE]...
 *
 * Exit status 0 when every transfer completed, 1 otherwise. */
#include <curl/curl.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    fputs("usage: bare-fetch URL FILE [URL FILE]...\n", stderr);
    return 2;
  }
  int status = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    FILE* out = fopen(argv[i + 1], "wb");
    if (!out) return 1;
    CURL* curl = curl_easy_init();
    if (!curl) return 1;
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, argv[i]);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, out); /* the default writer is fwrite */
    if (curl_easy_perform(curl) != CURLE_OK) status = 1;
    curl_easy_cleanup(curl);
    fclose(out);
  }
  return status;
}
