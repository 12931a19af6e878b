// Talking to talvenplan.cgi: one POST a command, the body sent as bytes and
// the answer read as bytes. Every outcome comes back as a value the page can
// put in words: the program's answer, a login the web server asks for, some
// other HTTP failure, or no answer at all.

import { latin1Text } from './bytes.js';
import { readAnswer } from './protocol.js';
import { tr } from './i18n.js';

export async function send(programUrl, body) {
  let response;
  try {
    response = await fetch(programUrl, {
      method: 'POST',
      body,
      headers: { 'Content-Type': 'application/octet-stream' },
      cache: 'no-store',
    });
  } catch (error) {
    return { kind: 'network', text: tr('the server could not be reached ({{reason}})', { reason: error.message }) };
  }
  if (response.status === 401) return { kind: 'login', text: tr('the web server asks for a login (HTTP 401)') };
  let bytes;
  try {
    bytes = new Uint8Array(await response.arrayBuffer());
  } catch (error) {
    return { kind: 'network', text: tr('the answer was cut off ({{reason}})', { reason: error.message }) };
  }
  if (!response.ok) {
    return { kind: 'http', text: tr('the web server answered HTTP {{status}}', { status: `${response.status} ${response.statusText}`.trim() }) };
  }
  const answer = readAnswer(bytes);
  if (answer.status === 'failed') return { kind: 'failed', text: latin1Text(answer.payload) };
  if (answer.status === 'unexpected') {
    const start = latin1Text(answer.payload.subarray(0, 80)).replace(/[^\x20-\x7e]/g, '?');
    return { kind: 'unexpected', text: start ? `"${start}"` : tr('an empty answer') };
  }
  return { kind: answer.status, payload: answer.payload };
}

// The page's words for an outcome that is not "done". `refusal` says what
// "s!" means for the command that was sent.
export function describe(outcome, refusal) {
  switch (outcome.kind) {
    case 'refused': return { level: 'refused', text: tr('Refused: {{reason}}.', { reason: refusal }) };
    case 'failed': return { level: 'failed', text: tr('Server failure: {{reason}}.', { reason: outcome.text }) };
    case 'login': return { level: 'failed', text: tr('Login needed: {{reason}}. Reload the page to log in.', { reason: outcome.text }) };
    case 'network': return { level: 'failed', text: tr('Network failure: {{reason}}.', { reason: outcome.text }) };
    case 'http': return { level: 'failed', text: tr('Web server failure: {{reason}}.', { reason: outcome.text }) };
    default: return { level: 'failed', text: tr('Not an answer of the program: {{reason}}.', { reason: outcome.text }) };
  }
}
