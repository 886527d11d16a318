#!/usr/bin/env node
// Records a HAR of one flow on the tests' local site with Debian's Chromium
// through playwright-core: the shop page (a style sheet, a script making fetch
// and XHR calls, an image, a frame), its sign-in form posted, then the notes
// page's text/plain form posted. tests/tst_check records the same flow in the
// recorder and compares.
//   node record-flow.js <site base URL> <output.har>
'use strict'
const { chromium } = require('playwright-core')

async function main () {
  const [base, output] = process.argv.slice(2)
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] })
  const context = await browser.newContext({ recordHar: { path: output } })
  const page = await context.newPage()
  await page.goto(`${base}/harflow/index.html`, { waitUntil: 'networkidle' })
  await page.fill('#user', 'anna@example.test')
  await page.fill('#pass', 's3same & co')
  await Promise.all([page.waitForURL(`${base}/harflow/login`), page.click('#go')])
  await page.goto(`${base}/harflow/notes.html`, { waitUntil: 'load' })
  await page.fill('#subject', 'Cafe')
  await page.fill('#body', 'two words')
  await Promise.all([page.waitForURL(`${base}/harflow/notes`), page.click('#go')])
  await page.waitForLoadState('load')
  await context.close()
  await browser.close()
}
main().catch((err) => { console.error(err); process.exit(1) })
