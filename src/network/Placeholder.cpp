// Proxy and certificate-trust settings.
