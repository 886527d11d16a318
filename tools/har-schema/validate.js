#!/usr/bin/env node
// Checks HAR files against the HAR 1.2 JSON schema (npm har-schema) and against
// what Chrome DevTools' HAR import insists on beyond it: every nested object it
// reads present and every size and timing a number.
//   node validate.js file.har...   exit 0 when all pass; errors on stderr
'use strict'
const fs = require('fs')
const Ajv = require('ajv')
const schemas = require('har-schema')

const ajv = new Ajv({ allErrors: true, schemaId: '$id' })
ajv.addMetaSchema(require('ajv/lib/refs/json-schema-draft-06.json'))
for (const name of Object.keys(schemas)) {
  if (name !== 'har') ajv.addSchema(schemas[name])
}
const validate = ajv.compile(schemas.har)

function devToolsProblems (har) {
  const problems = []
  const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v)
  const need = (cond, what) => { if (!cond) problems.push(what) }
  const log = har.log
  need(isObject(log.creator), 'log.creator')
  ;(log.pages || []).forEach((page, i) => {
    need(isObject(page.pageTimings), `pages[${i}].pageTimings`)
    need(!Number.isNaN(new Date(page.startedDateTime).getTime()), `pages[${i}].startedDateTime`)
  })
  log.entries.forEach((e, i) => {
    const at = `entries[${i}]`
    need(!Number.isNaN(new Date(e.startedDateTime).getTime()), `${at}.startedDateTime`)
    for (const part of ['request', 'response', 'cache', 'timings']) need(isObject(e[part]), `${at}.${part}`)
    if (!isObject(e.request) || !isObject(e.response) || !isObject(e.timings)) return
    need(isObject(e.response.content), `${at}.response.content`)
    const numbers = [['time', e.time], ['request.headersSize', e.request.headersSize],
      ['request.bodySize', e.request.bodySize], ['response.status', e.response.status],
      ['response.headersSize', e.response.headersSize], ['response.bodySize', e.response.bodySize],
      ['response.content.size', (e.response.content || {}).size], ['timings.send', e.timings.send],
      ['timings.wait', e.timings.wait], ['timings.receive', e.timings.receive]]
    for (const [name, value] of numbers) need(typeof value === 'number', `${at}.${name} is a number`)
    for (const list of ['cookies', 'headers', 'queryString']) {
      need(Array.isArray(e.request[list]), `${at}.request.${list}`)
    }
    if (e.request.postData !== undefined) need(isObject(e.request.postData), `${at}.request.postData`)
  })
  return problems
}

let failed = false
for (const file of process.argv.slice(2)) {
  let har
  try {
    har = JSON.parse(fs.readFileSync(file, 'utf8'))
  } catch (err) {
    console.error(`${file}: ${err.message}`)
    failed = true
    continue
  }
  if (!validate(har)) {
    console.error(`${file}: ${ajv.errorsText(validate.errors, { separator: '\n' })}`)
    failed = true
    continue
  }
  const problems = devToolsProblems(har)
  if (problems.length) {
    console.error(`${file}: missing or wrong: ${problems.join(', ')}`)
    failed = true
  }
}
if (process.argv.length < 3) {
  console.error('usage: node validate.js file.har...')
  failed = true
}
process.exit(failed ? 1 : 0)
