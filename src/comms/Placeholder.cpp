// Web API requests, responses and the cipher.
