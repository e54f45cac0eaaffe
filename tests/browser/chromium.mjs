// Starts Debian's chromium, headless, for the page's tests and benchmark,
// with what the closed network here needs: no background traffic, no QUIC,
// no component updates. Each start gets a fresh profile folder.
import { chromium } from 'playwright-core';

export const CHROMIUM = process.env.DIRLOG_CHROMIUM || '/usr/bin/chromium';

// `extra`: more switches, such as --force-device-scale-factor=2 for a
// display whose pixel ratio the layout itself follows.
export async function startChromium(extra = []) {
  return chromium.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: [
      '--no-sandbox', // root has no user namespace sandbox here
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      ...extra,
    ],
  });
}
